#import "BookAccess.h"

#include "TextBridge.h"

namespace kindex {

namespace {

// A server that does not answer must not leave the user waiting for ever.
const NSTimeInterval kRequestTimeout = 15;
const NSTimeInterval kReplyTimeout = 60;

}  // namespace

BookAccess::BookAccess() : book_(nil), connection_(nil) {}

BookAccess::~BookAccess() {
  [book_ release];
  [connection_ invalidate];
  [connection_ release];
}

bool BookAccess::open(const Options &options, Access access, const std::string &password,
                      std::string &error) {
  if (options.remote()) return openRemote(options, access, password, error);
  if (options.bookDir.empty()) {
    book_ = [[KXAddressBook sharedAddressBook] retain];
    if (book_ == nil) error = "cannot open your shared address book";
    return book_ != nil;
  }
  NSString *dir = nsString(options.bookDir);
  book_ = dir ? [[KXLocalAddressBook alloc] initWithLocation:dir] : nil;
  if (book_ == nil)
    error = options.bookDir + " is not an address book (it must be a directory holding a book, "
            "or an empty directory for a new one)";
  return book_ != nil;
}

bool BookAccess::openRemote(const Options &options, Access access, const std::string &password,
                            std::string &error) {
  std::string where = options.host + ":" + std::to_string(options.port);
  NSString *pwd = nsString(password);
  if (pwd == nil) {
    error = "the password is not valid UTF-8";
    return false;
  }
  @try {
    NSHost *host = [NSHost hostWithName:nsString(options.host)];
    NSSocketPort *sendPort = host == nil ? nil
        : [NSSocketPort portWithNumber:(unsigned short)options.port
                                onHost:host
                          forceAddress:nil
                              listener:NO];
    if (sendPort == nil) {
      error = "cannot reach " + where;
      return false;
    }
    NSPort *receivePort = [NSSocketPort port];
    connection_ = [[NSConnection alloc] initWithReceivePort:receivePort sendPort:sendPort];
    [connection_ setRequestTimeout:kRequestTimeout];
    [connection_ setReplyTimeout:kReplyTimeout];
    id proxy = [connection_ rootProxy];
    if (proxy == nil) {
      error = "no address-book server answers at " + where;
      return false;
    }
    [proxy setProtocolForProxy:@protocol(KXSimpleAddressBookServing)];
    id<KXSimpleAddressBookServing> server = (id<KXSimpleAddressBookServing>)proxy;
    KXAddressBook *view = nil;
    if (access == Access::ReadOnly) {
      view = [server addressBookForReadOnlyAccessWithAuth:pwd];
    } else {
      view = [server addressBookForReadWriteAccessWithAuth:pwd];
    }
    if (view == nil) {
      error = access == Access::ReadOnly
          ? "the server at " + where + " refused the password for reading"
          : "the server at " + where + " refused the password for changing the book";
      return false;
    }
    book_ = [view retain];
    return true;
  } @catch (id) {
    // The exception object of a failed remote call may already be gone by the time it gets
    // here (it belonged to a pool of the connection's), so it is not looked at.
    error = "no address-book server answers at " + where;
    return false;
  }
}

}  // namespace kindex
