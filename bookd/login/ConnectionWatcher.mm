#import "ConnectionWatcher.h"

#include <sys/epoll.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using HandleMap = std::unordered_map<int, NSFileHandle *>;

ConnectionWatcher *sharedWatcher = nil;
pid_t sharedWatcherPid = 0;

}  // namespace

@implementation ConnectionWatcher

+ (ConnectionWatcher *)sharedWatcher {
  // An epoll descriptor inherited over fork is the parent's instance: a child that watched
  // through it would take the parent's events. Leave it to the parent and make a new one.
  if (sharedWatcher == nil || sharedWatcherPid != getpid()) {
    ConnectionWatcher *watcher = [[ConnectionWatcher alloc] init];
    if (watcher == nil) return nil;
    sharedWatcher = watcher;
    sharedWatcherPid = getpid();
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
  _handles = new HandleMap();
  return self;
}

- (void)dealloc {
  delete static_cast<HandleMap *>(_handles);
  if (_epoll >= 0) close(_epoll);
  [super dealloc];
}

- (BOOL)watchOnce:(NSFileHandle *)handle {
  const int fd = [handle fileDescriptor];
  if (fd < 0) return NO;
  HandleMap &handles = *static_cast<HandleMap *>(_handles);
  struct epoll_event event;
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.fd = fd;
  // A descriptor already known is re-armed; one that was closed without being forgotten
  // has left the epoll set by itself, and its number may now belong to this new handle.
  if (epoll_ctl(_epoll, EPOLL_CTL_MOD, fd, &event) != 0 && epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
    return NO;
  handles[fd] = handle;
  return YES;
}

- (void)forget:(NSFileHandle *)handle {
  const int fd = [handle fileDescriptor];
  if (fd < 0) return;
  HandleMap &handles = *static_cast<HandleMap *>(_handles);
  HandleMap::iterator known = handles.find(fd);
  if (known == handles.end() || known->second != handle) return;
  handles.erase(known);
  epoll_ctl(_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

- (void)receivedEvent:(void *)data type:(RunLoopEventType)type extra:(void *)extra forMode:(NSString *)mode {
  struct epoll_event events[256];
  const int ready = epoll_wait(_epoll, events, 256, 0);
  HandleMap &handles = *static_cast<HandleMap *>(_handles);
  NSNotificationCenter *center = [NSNotificationCenter defaultCenter];
  for (int i = 0; i < ready; i++) {
    // Looked up now, not before the loop: an earlier notification of this batch may have
    // ended (and forgotten) this connection.
    HandleMap::iterator known = handles.find(events[i].data.fd);
    if (known == handles.end()) continue;
    NSFileHandle *handle = [[known->second retain] autorelease];
    [center postNotificationName:NSFileHandleDataAvailableNotification object:handle];
  }
}

@end
