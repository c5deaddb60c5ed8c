// Files that bookconvert can't read or decode, and a shared book it can't open or save:
// each ends with one error line and status 1 after the progress line, and leaves the
// shared book exactly as it was. Reporting success here would hide that nothing arrived.
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include "ConvertFixture.h"
#include "FileBytes.h"

namespace convert_test {
namespace {

const char *seed =
    R"({ groups = ( { name = Seed; entries = ( { name = "Alpha Beta"; email = "a@example.org"; } ); } ); })";
const char *notBook = "is not a GNUMail address book: ";

class ConvertError : public ConvertFixture {
 protected:
  // A shared book with one group and one person, as a user's book would be.
  void SetUp() override {
    ConvertFixture::SetUp();
    ASSERT_EQ(convert(archive(seed)).status, 0);
    before_ = storeFiles();
    ASSERT_FALSE(before_.empty());
  }

  // One run on path must fail with exactly errorLine and leave the book byte for byte.
  void expectRefused(const std::string &path, const std::string &errorLine) {
    ProgramResult run = convert(path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, progressLine(path));
    EXPECT_EQ(run.error, errorLine + "\n");
    EXPECT_TRUE(storeFiles() == before_) << "the stored book changed";
  }

  std::string notBookLine(const std::string &path, const std::string &reason) {
    return "Error: '" + path + "' " + notBook + reason;
  }

  std::map<std::string, std::string> before_;
};

TEST_F(ConvertError, UnreadableFilesNameTheFileAndTheReason) {
  std::string missing = scratch() + "/missing.archive";
  expectRefused(missing, "Error: cannot read '" + missing + "': No such file or directory");
  expectRefused(scratch(), "Error: cannot read '" + scratch() + "': Is a directory");
}

TEST_F(ConvertError, UnreadableForLackOfPermission) {
  std::string locked = archive(seed);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  RunOptions options;
  // Root reads every file: a root runner converts as an ordinary user who may reach the file
  // but not read it.
  if (geteuid() == 0) {
    if (!userMayRun(65534, BOOKCONVERT_PATH))
      GTEST_SKIP() << "bookconvert lies in a directory that an unprivileged user cannot enter";
    options.user = 65534;
    ASSERT_EQ(chmod(scratch().c_str(), 0711), 0);
  }
  ProgramResult run = convert(locked, options);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, progressLine(locked));
  EXPECT_EQ(run.error, "Error: cannot read '" + locked + "': Permission denied\n");
  EXPECT_TRUE(storeFiles() == before_) << "the stored book changed";
}

struct BadArchive {
  const char *title;
  const char *description;  // an archive description, or nullptr to use bytes
  const char *bytes;
  const char *reason;
};

std::ostream &operator<<(std::ostream &out, const BadArchive &c) {
  return out << c.title;
}

// clang-format off
const BadArchive badArchives[] = {
  {"an empty file", nullptr, "", "it can't be decoded"},
  {"a text file", nullptr, "Alpha Beta <a@example.org>\n", "it can't be decoded"},
  {"a class the converter doesn't know, as root", "{ class = Stranger; }",
   nullptr, "it can't be decoded (Unable to find class named 'Stranger')"},
  {"a class the converter doesn't know, among entries",
   "{ groups = ( { name = G; entries = ( { name = A; email = a; }, { class = Stranger; } ); } ); }",
   nullptr, "it can't be decoded (Unable to find class named 'Stranger')"},
  {"an entry with a third field", "{ class = Address; fields = (Alpha, a, extra); }",
   nullptr, "it holds more than the objects of an address book"},
  {"an entry with a number for its e-mail", "{ class = Address; fields = (Alpha, { int = 7; }); }",
   nullptr, "it can't be decoded"},
  {"a group whose name is a list", "{ class = Group; fields = ((a, b), {}); }",
   nullptr, "the name of a Group is an object of class NSArray"},
  {"a group whose entries are a string", "{ groups = ( { class = Group; fields = (G, x); } ); }",
   nullptr, "the addressList of a Group is an object of class NSString"},
  {"an entry whose name is a list", "{ groups = ( { name = G; entries = ( { fields = ((a), b); } ); } ); }",
   nullptr, "the name of an Address is an object of class NSArray"},
  {"a book whose groups are a string", "{ fields = (x); }",
   nullptr, "the allGroups of the AddressBook is an object of class NSString"},
  {"a root of another class", "{ class = String; value = hello; }",
   nullptr, "its root object is of class NSString"},
  {"a group that contains itself", "{ groups = ( { id = g; name = G; entries = ( { ref = g; } ); } ); }",
   nullptr, "a group contains itself"},
  {"two groups that contain each other",
   "{ class = Group; id = a; name = A; entries = ( { class = Group; name = B; entries = ( { ref = a; } ); } ); }",
   nullptr, "a group contains itself"},
};
// clang-format on

class ConvertBadArchive : public ConvertError, public ::testing::WithParamInterface<BadArchive> {};

TEST_P(ConvertBadArchive, IsRefusedWithTheBookUntouched) {
  const BadArchive &c = GetParam();
  std::string path = c.description != nullptr ? archive(c.description) : rawFile(c.bytes);
  expectRefused(path, notBookLine(path, c.reason));
}

INSTANTIATE_TEST_SUITE_P(Files, ConvertBadArchive, ::testing::ValuesIn(badArchives));

// A class name in the archive reaches the error line only with its control characters
// escaped: the line goes to a terminal.
TEST_F(ConvertError, AClassNameWithControlCharactersIsEscaped) {
  std::string bytes = kxtest::readFile(archive("{ class = Stranger; }"));
  size_t at = bytes.find("Stranger");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 8, "Str\x1b[2J\x07");  // as long as the name it replaces
  std::string path = rawFile(bytes);
  expectRefused(path,
                notBookLine(path, "it can't be decoded (Unable to find class named 'Str\\x1b[2J\\x07')"));
}

// Cut short anywhere, a real archive must never crash the converter nor reach the book.
TEST_F(ConvertError, TruncatedArchivesAreRefused) {
  std::string whole = kxtest::readFile(archive(
      R"({ groups = ( { name = G; entries = ( { name = "Alpha Beta"; email = "a@example.org"; },
                                               { name = "Gamma Delta"; email = "g@example.org"; } ); } ); })"));
  ASSERT_GT(whole.size(), 40u);
  for (size_t length : {whole.size() / 4, whole.size() / 2, whole.size() - 1}) {
    std::string path = rawFile(whole.substr(0, length));
    ProgramResult run = convert(path);
    EXPECT_EQ(run.status, 1) << length << " bytes";
    EXPECT_EQ(run.output, progressLine(path));
    EXPECT_EQ(run.error.rfind("Error: '" + path + "' " + notBook, 0), 0u) << run.error;
    EXPECT_EQ(std::count(run.error.begin(), run.error.end(), '\n'), 1) << run.error;
  }
  EXPECT_TRUE(storeFiles() == before_) << "the stored book changed";
}

// Groups nested inside groups thousands deep would exhaust the stack while the archive is
// decoded and again while it is converted; the mail client never nests them at all.
TEST_F(ConvertError, GroupsNestedTooDeep) {
  std::string description = "{ name = Alpha; email = a; }";
  for (int level = 0; level < 1001; level++)
    description = "{ class = Group; name = G; entries = (" + description + "); }";
  std::string path = archive(description);
  expectRefused(path, notBookLine(path, "its groups are nested more than 1000 deep"));
}

// Plain arrays nested 100,000 deep overflow the stack inside GNUstep's unarchiver itself.
TEST_F(ConvertError, ArraysNestedDeeperThanTheStack) {
  RunOptions bigStack;  // the generator writes the archive by recursion too
  bigStack.stackLimit = 1L << 30;
  std::string path =
      archive("{ fields = (" + std::string(100000, '(') + std::string(100000, ')') + "); }", bigStack);
  expectRefused(path, notBookLine(path, "it can't be decoded (the unarchiver crashed on it)"));
}

using ConvertOpenError = ConvertFixture;

TEST_F(ConvertOpenError, SharedBookThatCannotBeOpened) {
  // A plain file where the book's folder belongs.
  std::string path = archive(seed);
  mkdir(libraryDir().c_str(), 0700);
  std::ofstream(libraryDir() + "/Kindex") << "not a folder";
  ProgramResult run = convert(path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, progressLine(path));
  EXPECT_EQ(run.error, "Error: cannot open the shared address book at '" + bookLocation() +
                           "': cannot make the directory " + bookLocation() +
                           ": a file stands in its path\n");
}

TEST_F(ConvertError, SaveThatFails) {
  std::vector<std::string> seeded = book();
  // Files may not grow past their present size, so the save can't write the new records.
  RunOptions limited;
  for (const auto &file : before_)
    limited.fileSizeLimit = std::max<long>(limited.fileSizeLimit, (long)file.second.size());
  std::string path = syntheticArchive(10, 100);
  ProgramResult run = convert(path, limited);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, progressLine(path));
  EXPECT_EQ(run.error.rfind("Error: cannot save the shared address book (", 0), 0u) << run.error;
  EXPECT_NE(run.error.find("has reached the largest file size allowed)"), std::string::npos) << run.error;
  EXPECT_EQ(std::count(run.error.begin(), run.error.end(), '\n'), 1) << run.error;
  // The failed save may leave uncommitted pages behind in the store's files; what the
  // book holds stays as it was.
  EXPECT_EQ(book(), seeded);
}

}  // namespace
}  // namespace convert_test
