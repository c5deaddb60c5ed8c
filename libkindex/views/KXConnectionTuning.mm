#import <Kindex/KXConnectionTuning.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <vector>

void KXTurnOffNagleOnPort(NSPort *port) {
  if (![port isKindOfClass:[NSSocketPort class]]) return;
  // The count is in and out: how many slots there are, then how many were filled. GNUstep
  // raises rather than overrun a short array, which leaves those sockets as they were.
  std::vector<NSInteger> fds(4096);
  NSInteger count = static_cast<NSInteger>(fds.size());
  @try {
    [(NSSocketPort *)port getFds:fds.data() count:&count];
  } @catch (id) {
    count = 0;
  }
  for (NSInteger i = 0; i < count && i < static_cast<NSInteger>(fds.size()); i++) {
    int on = 1;
    // Fails harmlessly on a socket that is not TCP.
    setsockopt(static_cast<int>(fds[i]), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
}

void KXTurnOffNagleOnConnection(NSConnection *connection) {
  if (connection == nil) return;
  KXTurnOffNagleOnPort([connection receivePort]);
  KXTurnOffNagleOnPort([connection sendPort]);
}
