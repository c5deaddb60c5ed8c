/* Takes the connections waiting on the socket login service's listening socket, as many as
 * are there (up to a bound) each time the run loop says it is readable, and hands each to
 * the server's -acceptConnection: in the notification GNUstep's
 * -acceptConnectionInBackgroundAndNotify would post: the new handle under
 * NSFileHandleNotificationFileHandleItem, or, when an accept fails for another reason than an
 * empty backlog, no handle and the reason under GSFileHandleNotificationError.
 *
 * GNUstep's own background accept took one connection per pass of the run loop; with a short
 * backlog, a client that opened connections in a loop waited a second (the kernel's SYN
 * retry) on every sixth or so. This takes the whole backlog at once.
 *
 * After a failure the acceptor stops watching, so that a socket that stays readable while
 * accepts fail cannot make the server spin; -watch starts it again. It does not own the
 * server, and must be stopped before the server goes. */
#ifndef BOOKD_ACCEPTOR_H
#define BOOKD_ACCEPTOR_H

#import <Foundation/Foundation.h>

@interface Acceptor : NSObject <RunLoopEvents> {
  NSFileHandle *_listening;
  id _server;
  BOOL _watching;
}

/* The handle's socket is made non-blocking. */
- (id)initWithListeningHandle:(NSFileHandle *)listening server:(id)server;
/* Watches the socket in the current run loop's default mode; nothing when already watching. */
- (void)watch;
- (void)stop;

@end

#endif
