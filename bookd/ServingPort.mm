#import "ServingPort.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <set>

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

// How long the next message of a paced client waits (see +paceCurrentClient). Its grants are
// refused anyway until its budget refills at one check a second.
const NSTimeInterval kPacedMessagePause = 0.5;

NSPortMessage *currentMessage = nil;

// The socket of the client connection a message came in on: GNUstep's handle for the client's
// port; -1 when it cannot be told.
int socketOfMessage(NSPortMessage *message) {
  NSPort *client = [message sendPort];
  if (![client respondsToSelector:@selector(conversation:)]) return -1;
  id handle = [(NSSocketPort *)client conversation:[message receivePort]];
  if (![handle respondsToSelector:@selector(descriptor)]) return -1;
  return [(id<GNUstepHandle>)handle descriptor];
}

// Connections (by socket) whose next message waits, and the messages waiting, oldest first
// (retained). A socket closed meanwhile and reused by a new client costs that client one
// pause at most.
std::set<int> pacedSockets;
std::map<int, std::deque<NSPortMessage *>> pacedMessages;

bool isShortOfResources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

@interface ServingPort (Pacing)
- (void)handlePacedMessageLater:(int)socket;
- (void)handlePacedMessage:(NSTimer *)timer;
- (void)handleMessageNow:(NSPortMessage *)message;
@end

@implementation ServingPort

+ (NSString *)currentPeerAddress {
  if (currentMessage == nil) return nil;
  const int socket = socketOfMessage(currentMessage);
  if (socket < 0) return @"";
  return [NSString stringWithUTF8String:peerOfSocket(socket).c_str()];
}

+ (void)paceCurrentClient {
  const int socket = currentMessage != nil ? socketOfMessage(currentMessage) : -1;
  if (socket >= 0) pacedSockets.insert(socket);
}

- (void)handlePortMessage:(NSPortMessage *)message {
  if (!pacedSockets.empty() || !pacedMessages.empty()) {
    const int socket = socketOfMessage(message);
    // A paced client's message waits; once one waits, its later ones wait behind it, so that
    // they are handled in the order they came.
    if (pacedMessages.count(socket) != 0 || pacedSockets.erase(socket) != 0) {
      std::deque<NSPortMessage *> &queue = pacedMessages[socket];
      queue.push_back([message retain]);
      if (queue.size() == 1) [self handlePacedMessageLater:socket];
      return;
    }
  }
  [self handleMessageNow:message];
}

- (void)handlePacedMessageLater:(int)socket {
  [NSTimer scheduledTimerWithTimeInterval:kPacedMessagePause
                                   target:self
                                 selector:@selector(handlePacedMessage:)
                                 userInfo:[NSNumber numberWithInt:socket]
                                  repeats:NO];
}

- (void)handlePacedMessage:(NSTimer *)timer {
  const int socket = [[timer userInfo] intValue];
  std::map<int, std::deque<NSPortMessage *>>::iterator waiting = pacedMessages.find(socket);
  if (waiting == pacedMessages.end()) return;
  NSPortMessage *message = waiting->second.front();
  waiting->second.pop_front();
  // Messages that came behind it wait a pause each, in order, whether or not this one is
  // refused again (which paces the client anew).
  if (waiting->second.empty()) {
    pacedMessages.erase(waiting);
  } else {
    [self handlePacedMessageLater:socket];
  }
  // Handling may bring in more messages of this client and change the map: nothing of it is
  // used after this.
  @try {
    [self handleMessageNow:message];
  } @catch (id) {
    // What GNUstep raises for a broken message ends that message only, as it would have had the
    // message been handled from the run loop at once.
  }
  [message release];
}

- (void)handleMessageNow:(NSPortMessage *)message {
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
  if (!isShortOfResources(error)) return;
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
