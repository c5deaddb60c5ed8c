// Which locations open a book. A mistyped path must never create a book, and a store that
// is not ours must never be written: each refused location is left byte for byte as it was.
#include "BookTest.h"

#include <sqlite3.h>
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

void makeForeignDatabase(const std::string &path) {
  sqlite3 *db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE people(name TEXT); INSERT INTO people VALUES('someone else');", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Every file below dir with its content, for comparing before and after.
std::string snapshot(const std::string &dir) {
  std::string all;
  NSArray *names = [[NSFileManager defaultManager] subpathsAtPath:[NSString stringWithUTF8String:dir.c_str()]];
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
    bool opens;
  };
  std::vector<Row> rows = {
    {"empty directory", [](kxtest::TempDir &t) { return t.makeDir("empty"); }, true},
    {"missing path", [](kxtest::TempDir &t) { return t.file("missing"); }, false},
    {"missing path below a missing directory", [](kxtest::TempDir &t) { return t.file("a/b/c"); }, false},
    {"regular file", [](kxtest::TempDir &t) { writeFile(t.file("plain"), "text"); return t.file("plain"); }, false},
    {"directory holding something else", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("other"); writeFile(d + "/notes.txt", "mine"); return d; }, false},
    {"directory holding a hidden file", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("hidden"); writeFile(d + "/.keep", ""); return d; }, false},
    {"store that is not a database", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("garbage"); writeFile(d + "/book.sqlite", std::string(4096, 'x')); return d; }, false},
    {"store that is another program's database", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("foreign"); makeForeignDatabase(d + "/book.sqlite"); return d; }, false},
    {"store that is a directory", [](kxtest::TempDir &t) {
       std::string d = t.makeDir("dirstore"); ::mkdir((d + "/book.sqlite").c_str(), 0700); return d; }, false},
  };
  for (const Row &row : rows) {
    std::string location = row.make(tmp_);
    std::string before = snapshot(location);
    bool existed = ::access(location.c_str(), F_OK) == 0;
    KXLocalAddressBook *book = open([NSString stringWithUTF8String:location.c_str()]);
    EXPECT_EQ(row.opens, book != nil) << row.what;
    if (!row.opens) {
      EXPECT_EQ(existed, ::access(location.c_str(), F_OK) == 0) << row.what << ": created";
      EXPECT_EQ(before, snapshot(location)) << row.what << ": changed";
    }
  }
  EXPECT_TRUE(open(@"") == nil);
  EXPECT_TRUE(open(nil) == nil);
}

TEST_F(LocationTest, AnUnreadableStoreGivesNil) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  KXLocalAddressBook *book = newBook();
  [book addRecord:person(@"Ann", nil, nil)];
  ASSERT_TRUE([book save]);
  NSString *location = [book location];
  std::string store = std::string([location UTF8String]) + "/book.sqlite";
  ::chmod(store.c_str(), 0);
  EXPECT_TRUE(open(location) == nil);
  ::chmod(store.c_str(), 0600);
  ::chmod([location UTF8String], 0);
  EXPECT_TRUE(open(location) == nil);
  ::chmod([location UTF8String], 0700);
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
