// Which locations open a book. A mistyped path must never create a book, and a store that
// is not ours must never be written: each refused location is left byte for byte as it was.
#include "BookTest.h"

#include <sqlite3.h>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string &path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return "(directory)";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A book as a later version of the library might write it: ours, with a version number
// beyond this library's.
void makeNewerBook(const std::string &path) {
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
               "INSERT INTO meta VALUES('format', 'kindex-address-book'), ('version', 99), ('seq', 0);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void makeForeignDatabase(const std::string &path) {
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE people(name TEXT); INSERT INTO people VALUES('someone else');", nullptr,
               nullptr, nullptr);
  sqlite3_close(db);
}

// Every file below dir with its content, for comparing before and after.
std::string snapshot(const std::string &dir) {
  std::string all;
  NSArray *names =
      [[NSFileManager defaultManager] subpathsAtPath:[NSString stringWithUTF8String:dir.c_str()]];
  names = [names sortedArrayUsingSelector:@selector(compare:)];
  for (NSUInteger i = 0; i < [names count]; i++) {
    std::string name = [[names objectAtIndex:i] UTF8String];
    all += name + "=" + readFile(dir + "/" + name) + ";";
  }
  return all;
}

}  // namespace

class LocationTest : public BookTest {};

TEST_F(LocationTest, OnlyAnEmptyDirectoryOrOneOfOurBooksOpens) {
  struct Row {
    const char *what;
    std::function<std::string(kxtest::TempDir &)> make;  // gives the location to try
    NSInteger code;                                      // 0: opens
    const char *description;                             // %s stands for the location
  };
  // clang-format off
  std::vector<Row> rows = {
    {"empty directory", [](kxtest::TempDir &t) { return t.makeDir("empty"); }, 0, nullptr},
    {"missing path", [](kxtest::TempDir &t) { return t.file("missing"); }, KXErrorNotABook, "%s does not exist"},
    {"missing path below a missing directory", [](kxtest::TempDir &t) { return t.file("a/b/c"); },
     KXErrorNotABook, nullptr},
    {"regular file", [](kxtest::TempDir &t) { writeFile(t.file("plain"), "text"); return t.file("plain"); },
     KXErrorNotABook, "%s is a file, not a directory holding an address book"},
    {"directory holding something else", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("other"); writeFile(d + "/notes.txt", "mine"); return d; },
     KXErrorNotABook, "%s holds files that are not an address book"},
    {"directory holding a hidden file", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("hidden"); writeFile(d + "/.keep", ""); return d; }, KXErrorNotABook, nullptr},
    {"store that is not a database", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("garbage"); writeFile(d + "/book.sqlite", std::string(4096, 'x')); return d; },
     KXErrorNotABook, "%s/book.sqlite is not an address book"},
    {"store that is another program's database", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("foreign"); makeForeignDatabase(d + "/book.sqlite"); return d; },
     KXErrorNotABook, "%s/book.sqlite is not an address book"},
    {"store that is a directory", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("dirstore"); ::mkdir((d + "/book.sqlite").c_str(), 0700); return d; },
     KXErrorNotABook, nullptr},
    {"store of a newer version", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("newer"); makeNewerBook(d + "/book.sqlite"); return d; },
     KXErrorNotABook, "%s/book.sqlite is an address book of a newer version of Kindex"},
  };
  // clang-format on
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    std::string location = row.make(tmp_);
    std::string before = snapshot(location);
    bool existed = ::access(location.c_str(), F_OK) == 0;
    NSError *error = nil;
    KXLocalAddressBook *book =
        [[[KXLocalAddressBook alloc] initWithLocation:[NSString stringWithUTF8String:location.c_str()]
                                                error:&error] autorelease];
    EXPECT_EQ(row.code == 0, book != nil);
    if (row.code != 0) {
      ASSERT_TRUE(error != nil);
      EXPECT_EQ(row.code, [error code]);
      EXPECT_EQ(S(KXErrorDomain), S([error domain]));
      if (row.description != nullptr) {
        char expected[4096];
        std::snprintf(expected, sizeof expected, row.description, location.c_str());
        EXPECT_EQ(expected, S([error localizedDescription]));
      }
      EXPECT_EQ(existed, ::access(location.c_str(), F_OK) == 0) << "created";
      EXPECT_EQ(before, snapshot(location)) << "changed";
    }
  }
  EXPECT_TRUE(open(@"") == nil);
  EXPECT_TRUE(open(nil) == nil);
  NSError *error = nil;
  EXPECT_TRUE([[KXLocalAddressBook alloc] initWithLocation:@"" error:&error] == nil);
  EXPECT_EQ(KXErrorNotABook, [error code]);
}

TEST_F(LocationTest, AnUnreadableStoreSaysPermissionDenied) {
  KXLocalAddressBook *book = newBook();
  [book addRecord:person(@"Ann", nil, nil)];
  ASSERT_TRUE([book save]);
  NSString *location = [book location];
  std::string store = std::string([location UTF8String]) + "/book.sqlite";
  ::chmod(store.c_str(), 0);
  EXPECT_EQ(KXErrorPermissionDenied, openAsItsOwner(location)) << "store without read permission";
  ::chmod(store.c_str(), 0600);
  ::chmod([location UTF8String], 0);
  EXPECT_EQ(KXErrorPermissionDenied, openAsItsOwner(location)) << "directory without permissions";
  ::chmod([location UTF8String], 0700);
  // The same owner, with the permissions back, opens it: the refusals were for the permissions.
  EXPECT_EQ(0, openAsItsOwner(location));
}

TEST_F(LocationTest, ABookMadeInAnEmptyDirectoryOpensAgain) {
  NSString *location = dir("fresh");
  KXLocalAddressBook *book = open(location);
  ASSERT_TRUE(book != nil);
  EXPECT_EQ(S(location), S([book location]));
  EXPECT_EQ(0u, [[book people] count]);
  EXPECT_FALSE([book hasUnsavedChanges]);
  // Even never saved, the directory now holds our book rather than "something else".
  EXPECT_TRUE(open(location) != nil);
}
