#import "DavService.h"

#include "DavServer.h"

@interface DavService (Private)
- (void)runServer;
- (void)timerFired:(NSTimer *)timer;
@end

@implementation DavService

- (id)init {
  self = [super init];
  if (self == nil) return nil;
  _watchedFd = -1;
  return self;
}

- (void)dealloc {
  [self stop];
  [super dealloc];
}

- (BOOL)startWithConfig:(const carddav::DavConfig *)config
             collection:(carddav::CardCollection *)collection
                 budget:(carddav::LoginBudget *)budget
                    log:(const std::function<void(const std::string &)> *)log
                  error:(std::string *)error {
  if (_server != nullptr) {
    *error = "CardDAV: the service is already running";
    return NO;
  }
  std::function<void(const std::string &)> logLine = [](const std::string &line) {
    NSLog(@"%s", line.c_str());
  };
  if (log != nullptr && *log) logLine = *log;
  auto *server = new carddav::DavServer(*config, *collection, *budget, logLine);
  if (!server->start(error)) {
    delete server;
    return NO;
  }
  _server = server;
  _watchedFd = server->epollFd();
  [[NSRunLoop currentRunLoop] addEvent:reinterpret_cast<void *>(static_cast<intptr_t>(_watchedFd))
                                  type:ET_RDESC
                               watcher:self
                               forMode:NSDefaultRunLoopMode];
  [self runServer];
  return YES;
}

- (int)port {
  return _server ? static_cast<carddav::DavServer *>(_server)->port() : 0;
}

- (NSUInteger)openConnections {
  return _server ? static_cast<carddav::DavServer *>(_server)->openConnections() : 0;
}

- (void)stop {
  if (_server == nullptr) return;
  [[NSRunLoop currentRunLoop] removeEvent:reinterpret_cast<void *>(static_cast<intptr_t>(_watchedFd))
                                     type:ET_RDESC
                                  forMode:NSDefaultRunLoopMode
                                      all:YES];
  _watchedFd = -1;
  [_timer invalidate];
  [_timer release];
  _timer = nil;
  delete static_cast<carddav::DavServer *>(_server);
  _server = nullptr;
}

- (void)receivedEvent:(void *)data type:(RunLoopEventType)type extra:(void *)extra forMode:(NSString *)mode {
  [self runServer];
}

@end

@implementation DavService (Private)

- (void)runServer {
  if (_server == nullptr) return;
  // A C++ exception must not unwind into the run loop; the service carries on without the
  // request that raised it (libmicrohttpd closes that connection).
  long long wait = -1;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  try {
    wait = static_cast<carddav::DavServer *>(_server)->run();
  } catch (const std::exception &e) {
    NSLog(@"CardDAV: request failed - %s", e.what());
    wait = 0;
  } catch (...) {
    NSLog(@"CardDAV: request failed");
    wait = 0;
  }
  [pool release];
  [_timer invalidate];
  [_timer release];
  _timer = nil;
  if (wait >= 0) {
    _timer = [[NSTimer scheduledTimerWithTimeInterval:wait / 1000.0
                                               target:self
                                             selector:@selector(timerFired:)
                                             userInfo:nil
                                              repeats:NO] retain];
  }
}

- (void)timerFired:(NSTimer *)timer {
  [self runServer];
}

@end
