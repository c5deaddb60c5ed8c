#import "NoDelay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <vector>

void SetNoDelayOnPort(NSPort *port) {
  if (![port isKindOfClass:[NSSocketPort class]]) return;
  NSSocketPort *socketPort = (NSSocketPort *)port;
  // The count is in and out: how many slots there are, then how many were filled. GNUstep
  // raises rather than overrun a short array, which leaves those sockets as they were.
  std::vector<NSInteger> fds(4096);
  NSInteger count = static_cast<NSInteger>(fds.size());
  @try {
    [socketPort getFds:fds.data() count:&count];
  } @catch (id) {
    count = 0;
  }
  for (NSInteger i = 0; i < count && i < static_cast<NSInteger>(fds.size()); i++) {
    int on = 1;
    // Fails harmlessly on a socket that is not TCP.
    setsockopt(static_cast<int>(fds[i]), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
}

@implementation NoDelayWatcher

+ (void)watchConnectionsOfPort:(NSPort *)port
{
  SetNoDelayOnPort(port);
  static NoDelayWatcher *watcher = nil;
  if (watcher != nil) return;
  watcher = [NoDelayWatcher new];
  [[NSNotificationCenter defaultCenter] addObserver:watcher
                                           selector:@selector(connectionDidInitialize:)
                                               name:NSConnectionDidInitializeNotification
                                             object:nil];
}

- (void)connectionDidInitialize:(NSNotification *)notification
{
  NSConnection *connection = [notification object];
  SetNoDelayOnPort([connection receivePort]);
  SetNoDelayOnPort([connection sendPort]);
}

@end
