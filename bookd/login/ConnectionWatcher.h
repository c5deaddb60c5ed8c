/* Tells the socket login service when its connections have something to read.
 *
 * -watchOnce: promises what -[NSFileHandle waitForDataInBackgroundAndNotify] promises: one
 * NSFileHandleDataAvailableNotification, with the handle as its sender, once data or the end
 * of the stream is there. It keeps every connection in one epoll descriptor that the run
 * loop watches in its default mode, because the run loop rebuilds and polls its whole set of
 * watched descriptors on every turn: with a background wait per connection, each event cost
 * more the more connections were open.
 *
 * The watcher does not own the handles. A handle must be forgotten before it is closed or
 * released; closing its descriptor also ends the watch. One watcher per process; a forked
 * child gets its own. */
#ifndef BOOKD_CONNECTIONWATCHER_H
#define BOOKD_CONNECTIONWATCHER_H

#import <Foundation/Foundation.h>

@interface ConnectionWatcher : NSObject <RunLoopEvents> {
  int _epoll;
  void *_handles; /* std::unordered_map<int, NSFileHandle *>: descriptor -> handle */
}

/* The watcher of this process, attached to the current thread's run loop on first use;
 * nil when the system gave no epoll descriptor. */
+ (ConnectionWatcher *)sharedWatcher;

/* Arms one notification for the handle; NO when its descriptor cannot be watched. */
- (BOOL)watchOnce:(NSFileHandle *)handle;

/* Disarms the handle; nothing more is posted for it. */
- (void)forget:(NSFileHandle *)handle;

@end

#endif
