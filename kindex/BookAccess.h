// Opens the book a kindex command works on: the user's shared book, a book directory, or a view
// granted by a running bookd over GNUstep Distributed Objects.
#pragma once

#import <Kindex/Kindex.h>

#include <string>

#include "KindexOptions.h"

namespace kindex {

enum class Access { ReadOnly, ReadWrite };

// Keeps the book (and, for a view, its connection to the server) until it is destroyed.
class BookAccess {
 public:
  BookAccess();
  ~BookAccess();
  BookAccess(const BookAccess &) = delete;
  BookAccess &operator=(const BookAccess &) = delete;

  // False with a one-line message when there is no book; `password` is used for --server only.
  bool open(const Options &options, Access access, const std::string &password, std::string &error);
  KXAddressBook *book() const { return book_; }

 private:
  bool openRemote(const Options &options, Access access, const std::string &password, std::string &error);

  KXAddressBook *book_;
};

}  // namespace kindex
