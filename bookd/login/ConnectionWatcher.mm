#import "ConnectionWatcher.h"

#include <cerrno>
#include <pthread.h>
#include <sys/epoll.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// A handle's watch. The kernel keeps reporting a registered descriptor while it has input
// (level-triggered), so re-arming after each notification costs no system call: a
// connection that answers a login and waits for the next one is only marked armed again.
// Only an event for a handle that is not armed (one whose service paused it) takes the
// descriptor out of the epoll set, so that its input waits in the kernel meanwhile.
struct Watch {
  NSFileHandle *handle;
  bool armed;       // one notification is owed
  bool registered;  // the descriptor is in the epoll set
};
using WatchMap = std::unordered_map<int, Watch>;

ConnectionWatcher *sharedWatcher = nil;

// An epoll descriptor inherited over fork is the parent's instance: a child that watched
// through it would take the parent's events. The child leaves it to the parent and makes a
// new one on first use.
void forgetSharedWatcherInChild() {
  sharedWatcher = nil;
}

}  // namespace

@implementation ConnectionWatcher

+ (ConnectionWatcher *)sharedWatcher {
  if (sharedWatcher == nil) {
    static bool forkHandled = pthread_atfork(nullptr, nullptr, forgetSharedWatcherInChild) == 0;
    (void)forkHandled;
    ConnectionWatcher *watcher = [[ConnectionWatcher alloc] init];
    if (watcher == nil) return nil;
    sharedWatcher = watcher;
    [[NSRunLoop currentRunLoop] addEvent:reinterpret_cast<void *>(static_cast<intptr_t>(watcher->_epoll))
                                    type:ET_RDESC
                                 watcher:watcher
                                 forMode:NSDefaultRunLoopMode];
  }
  return sharedWatcher;
}

- (id)init {
  self = [super init];
  if (self == nil) return nil;
  _epoll = epoll_create1(EPOLL_CLOEXEC);
  if (_epoll < 0) {
    NSLog(@"Unable to watch connections - epoll_create1 failed\n");
    [self release];
    return nil;
  }
  _handles = new WatchMap();
  return self;
}

- (void)dealloc {
  delete static_cast<WatchMap *>(_handles);
  if (_epoll >= 0) close(_epoll);
  [super dealloc];
}

- (BOOL)watchOnce:(NSFileHandle *)handle {
  const int fd = [handle fileDescriptor];
  if (fd < 0) return NO;
  WatchMap &watches = *static_cast<WatchMap *>(_handles);
  WatchMap::iterator known = watches.find(fd);
  if (known != watches.end() && known->second.handle == handle && known->second.registered) {
    known->second.armed = true;
    return YES;
  }
  struct epoll_event event;
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = fd;
  // Added first: a new connection, one taken out while paused, and the number of one that was
  // closed without being forgotten (closing left the set by itself) are all outside the set.
  // A descriptor still in it under another handle's watch is only modified.
  if (epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &event) != 0 &&
      (errno != EEXIST || epoll_ctl(_epoll, EPOLL_CTL_MOD, fd, &event) != 0))
    return NO;
  watches[fd] = Watch{handle, true, true};
  return YES;
}

- (void)forget:(NSFileHandle *)handle {
  const int fd = [handle fileDescriptor];
  if (fd < 0) return;
  WatchMap &watches = *static_cast<WatchMap *>(_handles);
  WatchMap::iterator known = watches.find(fd);
  if (known == watches.end() || known->second.handle != handle) return;
  const bool registered = known->second.registered;
  watches.erase(known);
  if (registered) epoll_ctl(_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

- (void)receivedEvent:(void *)data type:(RunLoopEventType)type extra:(void *)extra forMode:(NSString *)mode {
  struct epoll_event events[256];
  const int ready = epoll_wait(_epoll, events, 256, 0);
  WatchMap &watches = *static_cast<WatchMap *>(_handles);
  NSNotificationCenter *center = [NSNotificationCenter defaultCenter];
  for (int i = 0; i < ready; i++) {
    // Looked up now, not before the loop: an earlier notification of this batch may have
    // ended (and forgotten) this connection.
    const int fd = events[i].data.fd;
    WatchMap::iterator known = watches.find(fd);
    if (known == watches.end()) continue;
    Watch &watch = known->second;
    if (!watch.armed) {
      // Taken out rather than given no events: a reset would still be reported, at every pass.
      epoll_ctl(_epoll, EPOLL_CTL_DEL, fd, nullptr);
      watch.registered = false;
      continue;
    }
    watch.armed = false;
    NSFileHandle *handle = [[watch.handle retain] autorelease];
    [center postNotificationName:NSFileHandleDataAvailableNotification object:handle];
  }
}

@end
