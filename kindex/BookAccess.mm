#import "BookAccess.h"

#include "TextBridge.h"

namespace kindex {

BookAccess::BookAccess() : book_(nil) {}

BookAccess::~BookAccess() {
  [book_ release];
}

bool BookAccess::open(const Options &options, Access access, const std::string &password,
                      std::string &error) {
  if (options.remote()) return openRemote(options, access, password, error);
  NSError *failure = nil;
  if (options.bookDir.empty()) {
    book_ = [[KXAddressBook sharedAddressBookReturningError:&failure] retain];
    if (book_ == nil) error = "cannot open your shared address book: " + utf8([failure localizedDescription]);
    return book_ != nil;
  }
  NSString *dir = nsString(options.bookDir);
  book_ = dir ? [[KXLocalAddressBook alloc] initWithLocation:dir error:&failure] : nil;
  if (book_ == nil) {
    // The library's reason names the directory; an empty directory would have become a book.
    error = dir != nil ? "cannot open the book: " + utf8([failure localizedDescription])
                       : options.bookDir + " is not a path this system can use";
  }
  return book_ != nil;
}

bool BookAccess::openRemote(const Options &options, Access access, const std::string &password,
                            std::string &error) {
  NSString *pwd = nsString(password);
  if (pwd == nil) {
    error = "the password is not valid UTF-8";
    return false;
  }
  NSError *failure = nil;
  book_ = [[KXPublicAddressBook viewOfServerAtHost:nsString(options.host)
                                              port:options.port
                                          readOnly:access == Access::ReadOnly
                                          password:pwd
                                             error:&failure] retain];
  if (book_ == nil) error = [[failure localizedDescription] UTF8String];
  return book_ != nil;
}

}  // namespace kindex
