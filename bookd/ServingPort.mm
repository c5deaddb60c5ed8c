#import "ServingPort.h"

#include <cerrno>
#include <cstring>

#include "NetAddress.h"

/* Methods GNUstep's socket ports and their connection handles have without declaring them in
 * a public header: the handle a remote port talks to a local port through, its socket, and
 * the run loop's call when one of the port's sockets is ready. */
@interface NSSocketPort (GNUstepHandles) <RunLoopEvents>
- (id)conversation:(NSPort *)receivePort;
@end
@protocol GNUstepHandle
- (int)descriptor;
@end

namespace {

// How long the listening socket rests after an accept failed for lack of resources: the
// client stays in the backlog, and an immediate retry would only fail again.
const NSTimeInterval kAcceptRetryDelay = 0.1;

NSPortMessage *currentMessage = nil;

bool IsShortOfResources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

@implementation ServingPort

+ (NSString *)currentPeerAddress {
  if (currentMessage == nil) return nil;
  NSPort *client = [currentMessage sendPort];
  if (![client respondsToSelector:@selector(conversation:)]) return @"";
  id handle = [(NSSocketPort *)client conversation:[currentMessage receivePort]];
  if (![handle respondsToSelector:@selector(descriptor)]) return @"";
  return [NSString stringWithUTF8String:PeerOfSocket([(id<GNUstepHandle>)handle descriptor]).c_str()];
}

- (void)handlePortMessage:(NSPortMessage *)message {
  // Messages nest when the server waits for a reply while handling one.
  NSPortMessage *outer = currentMessage;
  currentMessage = message;
  try {
    [super handlePortMessage:message];
  } catch (...) {
    currentMessage = outer;
    throw;
  }
  currentMessage = outer;
}

- (NSInteger)handleCount {
  NSInteger count = 0;
  [super getFds:NULL count:&count];
  return count;
}

- (void)getFds:(NSInteger *)fds count:(NSInteger *)count {
  const NSInteger room = *count;
  [super getFds:fds count:count];
  // The listening socket comes first; resting, it is left out.
  if (!_listenerResting || listener < 0 || *count == 0) return;
  const NSInteger filled = room < *count ? room : *count;
  if (filled > 0) std::memmove(fds, fds + 1, (filled - 1) * sizeof *fds);
  (*count)--;
}

- (void)wakeListener:(NSTimer *)timer {
  _listenerResting = NO;
}

- (void)receivedEvent:(void *)data type:(RunLoopEventType)type extra:(void *)extra forMode:(NSString *)mode {
  if (listener < 0 || static_cast<int>(reinterpret_cast<intptr_t>(extra)) != listener) {
    [super receivedEvent:data type:type extra:extra forMode:mode];
    return;
  }
  const NSInteger before = [self handleCount];
  errno = 0;
  [super receivedEvent:data type:type extra:extra forMode:mode];
  const int error = errno;
  if ([self handleCount] > before) {
    if (_acceptsFailing) {
      _acceptsFailing = NO;
      NSLog(@"Accepting Distributed Objects connections again");
    }
    return;
  }
  if (!IsShortOfResources(error)) return;
  // Rest before logging: logging may itself fail for the same lack, and raise.
  _listenerResting = YES;
  [NSTimer scheduledTimerWithTimeInterval:kAcceptRetryDelay
                                   target:self
                                 selector:@selector(wakeListener:)
                                 userInfo:nil
                                  repeats:NO];
  if (_acceptsFailing) return;
  _acceptsFailing = YES;
  @try {
    NSLog(@"Couldn't accept a Distributed Objects connection - %s", strerror(error));
  } @catch (id) {
  }
}

@end
