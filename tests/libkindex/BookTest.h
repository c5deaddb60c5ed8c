// The fixture of the library's tests: a temporary directory, an autorelease pool per test,
// and short verbs for making books and records.
#pragma once

#import <Kindex/Kindex.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ForkedBody.h"
#include "TempDir.h"
#import "KXPrivate.h"

// For messages and comparisons: the UTF-8 text of an NSString ("(nil)" for nil).
inline std::string S(id text) {
  if (text == nil) return "(nil)";
  return [[text description] UTF8String];
}

// What SQLite's own check says of a book's store file: "ok" when it is sound.
inline std::string integrityCheck(const std::string &store) {
  sqlite3 *db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      result = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

class BookTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = [NSAutoreleasePool new]; }
  void TearDown() override { [pool_ release]; }

  NSString *dir(const std::string &name) {
    return [NSString stringWithUTF8String:tmp_.makeDir(name).c_str()];
  }
  NSString *path(const std::string &name) { return [NSString stringWithUTF8String:tmp_.file(name).c_str()]; }
  static KXLocalAddressBook *open(NSString *location) {
    return [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  }
  KXLocalAddressBook *newBook(const std::string &name = "book") { return open(dir(name)); }
  static KXLocalAddressBook *reopen(KXLocalAddressBook *book) { return open([book location]); }

  static KXPerson *person(NSString *first, NSString *last, NSString *email) {
    KXPerson *p = [[KXPerson new] autorelease];
    if (first) [p setValue:first forProperty:KXFirstNameProperty];
    if (last) [p setValue:last forProperty:KXLastNameProperty];
    if (email) {
      KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] initWithMultiValue:nil] autorelease];
      [mails addValue:email withLabel:KXEmailWorkLabel];
      [p setValue:mails forProperty:KXEmailProperty];
    }
    return p;
  }
  static KXGroup *group(NSString *name) {
    KXGroup *g = [[KXGroup new] autorelease];
    [g setValue:name forProperty:KXGroupNameProperty];
    return g;
  }
  static NSArray *uids(NSArray *records) {
    NSMutableArray *ids = [NSMutableArray array];
    for (NSUInteger i = 0; i < [records count]; i++) [ids addObject:[[records objectAtIndex:i] uniqueId]];
    return ids;
  }

  // Runs body in a child process as the user who owns location, and gives what body returned
  // (0 to 255), or -1 when the child could not become that user or died. Root reads and writes
  // every file, so under root (as in CI) the child becomes an ordinary user that owns the
  // book's directory and everything in it, as the book's real user would.
  int asItsOwner(NSString *location, const std::function<int()> &body) {
    const bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    if (root) {
      std::string dir = [location UTF8String];
      ::chmod(tmp_.path().c_str(), 0711);
      ::chown(dir.c_str(), nobody, nobody);
      NSArray *names = [[NSFileManager defaultManager] subpathsAtPath:location];
      for (NSUInteger i = 0; i < [names count]; i++)
        ::chown((dir + "/" + [[names objectAtIndex:i] UTF8String]).c_str(), nobody, nobody);
    }
    pid_t child = spawnCode([&] {
      if (root && (setgid(nobody) != 0 || setuid(nobody) != 0)) return 255;
      return body();
    });
    int status = waitStatus(child);
    return status == 255 ? -1 : status;
  }

  // The error code of opening location (0 when it opens), as its owner.
  int openAsItsOwner(NSString *location) {
    return asItsOwner(location, [&] {
      NSError *error = nil;
      KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location
                                                                         error:&error] autorelease];
      return book != nil ? 0 : error != nil ? static_cast<int>([error code]) : 254;
    });
  }

  kxtest::TempDir tmp_{"kindex-book"};
  NSAutoreleasePool *pool_ = nil;
};
