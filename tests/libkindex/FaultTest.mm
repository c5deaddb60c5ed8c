// What a book says when the system fails it: a full disk (here the file-size limit, which the
// system reports the same way to a writer), a damaged store. The error names the fault, and
// the book on disk keeps what it held before.
#include "BookTest.h"

#include <sqlite3.h>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>

#include "FileBytes.h"

class FaultTest : public BookTest {};

TEST_F(FaultTest, ASaveBeyondTheFileSizeLimitSaysTheDiskIsFullAndKeepsItsChanges) {
  NSString *location = dir("full");
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  KXLocalAddressBook *book = open(location);
  [book addRecord:person(@"Before", nil, nil)];
  ASSERT_TRUE([book save]);
  [pool release];

  pid_t child = spawnCode([&] {
    // Past the limit a write fails with EFBIG instead of killing the process.
    signal(SIGXFSZ, SIG_IGN);
    KXLocalAddressBook *limited = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
    if (limited == nil) return 100;
    KXPerson *big = person(@"Big", nil, nil);
    [big setValue:[@"" stringByPaddingToLength:4 << 20 withString:@"note " startingAtIndex:0]
        forProperty:KXNoteProperty];
    [limited addRecord:big];
    struct rlimit limit = {1 << 20, 1 << 20};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 101;
    NSError *error = nil;
    if ([limited saveAndReturnError:&error]) return 102;
    if (![limited hasUnsavedChanges]) return 103;
    if (![[error localizedDescription] hasSuffix:@"has reached the largest file size allowed"]) return 104;
    return static_cast<int>([error code]);
  });
  EXPECT_EQ(KXErrorDiskFull, waitStatus(child));

  std::string store = S(location) + "/book.sqlite";
  EXPECT_EQ("ok", integrityCheck(store));
  KXLocalAddressBook *after = open(location);
  ASSERT_EQ(1u, [[after people] count]);
  EXPECT_EQ(S(@"Before"), S([[[after people] objectAtIndex:0] valueForProperty:KXFirstNameProperty]));
}

// Pages in the middle of the file overwritten, as a failing disk might: the header still says
// "SQLite" and the book is ours, but its records cannot be read. Nothing is written to it.
TEST_F(FaultTest, ADamagedStoreSaysSoAndIsLeftAsItIs) {
  NSString *location = dir("damaged");
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  KXLocalAddressBook *book = open(location);
  for (int i = 0; i < 2000; i++) {
    [book addRecord:person([NSString stringWithFormat:@"First%d", i], @"Last", @"someone@example.org")];
  }
  ASSERT_TRUE([book save]);
  [pool release];  // the last connection to close folds the log into the file

  std::string store = S(location) + "/book.sqlite";
  int fd = ::open(store.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  std::string garbage(8 * 4096, '\x5a');
  ASSERT_EQ(static_cast<ssize_t>(garbage.size()), pwrite(fd, garbage.data(), garbage.size(), 4 * 4096));
  ::close(fd);
  std::string before = kxtest::readFile(store);

  NSError *error = nil;
  KXLocalAddressBook *damaged = [[[KXLocalAddressBook alloc] initWithLocation:location
                                                                        error:&error] autorelease];
  EXPECT_TRUE(damaged == nil);
  EXPECT_EQ(KXErrorCorrupt, [error code]) << S([error localizedDescription]);
  EXPECT_EQ("the address book " + store + " is damaged and cannot be read", S([error localizedDescription]));
  EXPECT_TRUE(before == kxtest::readFile(store)) << "the damaged store was written";
}
