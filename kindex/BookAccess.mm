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
