// Which locations open a book. A mistyped path must never create a book, and a store that
// is not ours must never be written: each refused location is left byte for byte as it was.
#include "BookTest.h"
#include "ForkedBody.h"

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
    bool opens;
  };
  // clang-format off
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
  // clang-format on
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

// What the user who owns location gets when opening it: 1 a book, 0 nil, -1 the attempt itself
// failed. Root reads every file, so under root (as in CI) the attempt is made by a child that
// has become an ordinary user and owns the book's directory, as the book's real user would.
static int openAsItsOwner(kxtest::TempDir &tmp, NSString *location) {
  if (geteuid() != 0) return [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease] != nil;
  const uid_t nobody = 65534;
  std::string dir = [location UTF8String];
  ::chmod(tmp.path().c_str(), 0711);
  ::chown(dir.c_str(), nobody, nobody);
  NSArray *names = [[NSFileManager defaultManager] subpathsAtPath:location];
  for (NSUInteger i = 0; i < [names count]; i++)
    ::chown((dir + "/" + [[names objectAtIndex:i] UTF8String]).c_str(), nobody, nobody);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(3);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    bool opened = [[KXLocalAddressBook alloc] initWithLocation:location] != nil;
    [pool release];
    _exit(opened ? 1 : 0);
  }
  int status = waitStatus(child);
  return status == 0 || status == 1 ? status : -1;
}

TEST_F(LocationTest, AnUnreadableStoreGivesNil) {
  KXLocalAddressBook *book = newBook();
  [book addRecord:person(@"Ann", nil, nil)];
  ASSERT_TRUE([book save]);
  NSString *location = [book location];
  std::string store = std::string([location UTF8String]) + "/book.sqlite";
  ::chmod(store.c_str(), 0);
  EXPECT_EQ(0, openAsItsOwner(tmp_, location)) << "store without read permission";
  ::chmod(store.c_str(), 0600);
  ::chmod([location UTF8String], 0);
  EXPECT_EQ(0, openAsItsOwner(tmp_, location)) << "directory without permissions";
  ::chmod([location UTF8String], 0700);
  // The same owner, with the permissions back, opens it: the refusals were for the permissions.
  EXPECT_EQ(1, openAsItsOwner(tmp_, location));
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
