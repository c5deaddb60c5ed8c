// A book served over Distributed Objects by a child process, as bookd serves one: the child
// opens the book itself and vends a KXTestVendor on a loopback port the kernel picks. For
// tests of views that crossed a connection.
#pragma once

#import <Kindex/Kindex.h>

#include <sys/types.h>

extern NSString *const kLooker;   // the read-only password
extern NSString *const kChanger;  // the read-write password

// What the test vendor answers besides granting views.
@protocol KXTestVendor
/* How an object sent by the client arrived: "proxy", or its class and content. */
- (NSString *)arrivalOf:(id)object;
/* How many views the server holds now (each holds the book). */
- (int)viewsAlive;
@end

class ServedBook {
 public:
  // Starts serving the book at location; port() is 0 when that failed.
  explicit ServedBook(NSString *location);
  ~ServedBook();
  ServedBook(const ServedBook &) = delete;
  ServedBook &operator=(const ServedBook &) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // Ends the server (SIGKILL) and waits for it.
  void kill();
  // A view through the library's call, as any client opens one (autoreleased; nil on failure).
  KXPublicAddressBook *view(BOOL readOnly, NSError **error = NULL) const;
  // The vendor over a connection of the caller's own, for messages no view sends; nil when
  // it cannot be had. The connection lives until this ServedBook goes.
  id vendor();

 private:
  pid_t pid_ = 0;
  int port_ = 0;
  NSConnection *connection_ = nil;
};
