#import "Acceptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>

namespace {

// Connections taken per wakeup: enough to empty a burst's backlog in a few passes, few enough
// that the connections already open are still read between passes.
const int kAcceptsPerWakeup = 256;

}  // namespace

@interface NSObject (AcceptorServer)
- (void)acceptConnection:(NSNotification *)notification;
@end

@implementation Acceptor

- (id)initWithListeningHandle:(NSFileHandle *)listening server:(id)server {
  self = [super init];
  if (self == nil) return nil;
  _listening = [listening retain];
  _server = server;
  const int fd = [listening fileDescriptor];
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return self;
}

- (void)dealloc {
  [self stop];
  [_listening release];
  [super dealloc];
}

- (void *)descriptor {
  return reinterpret_cast<void *>(static_cast<intptr_t>([_listening fileDescriptor]));
}

- (void)watch {
  if (_watching) return;
  _watching = YES;
  [[NSRunLoop currentRunLoop] addEvent:[self descriptor]
                                  type:ET_RDESC
                               watcher:self
                               forMode:NSDefaultRunLoopMode];
}

- (void)stop {
  if (!_watching) return;
  _watching = NO;
  [[NSRunLoop currentRunLoop] removeEvent:[self descriptor]
                                     type:ET_RDESC
                                  forMode:NSDefaultRunLoopMode
                                      all:YES];
}

- (void)hand:(NSDictionary *)info {
  NSNotification *notification =
      [NSNotification notificationWithName:NSFileHandleConnectionAcceptedNotification
                                    object:_listening
                                  userInfo:info];
  [_server acceptConnection:notification];
}

- (void)receivedEvent:(void *)data type:(RunLoopEventType)type extra:(void *)extra forMode:(NSString *)mode {
  [[self retain] autorelease];  // the server may stop (and release) its acceptor meanwhile
  for (int i = 0; i < kAcceptsPerWakeup && _watching; i++) {
    const int fd = accept4([_listening fileDescriptor], nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      NSFileHandle *connection = [[NSFileHandle alloc] initWithFileDescriptor:fd closeOnDealloc:YES];
      [self hand:[NSDictionary dictionaryWithObject:connection
                                             forKey:NSFileHandleNotificationFileHandleItem]];
      [connection release];
      continue;
    }
    // A client that gave up while waiting, or a signal: the next one may still be there.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    NSString *reason = [NSString stringWithFormat:@"Accept attempt failed - %s", strerror(errno)];
    [self stop];
    [self hand:[NSDictionary dictionaryWithObject:reason forKey:GSFileHandleNotificationError]];
    return;
  }
}

@end
