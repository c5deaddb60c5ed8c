// Several processes on one book: a save writes only what changed, so nobody loses what
// another saved, and a long-running process (a server) sees others' saves on its next read.
// A process killed in the middle of a save leaves all or nothing of it, and a sound file.
#include "BookTest.h"
#include "ForkedBody.h"
#include "WalStall.h"

#include <poll.h>
#include <sqlite3.h>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool addPeople(NSString *location, NSString *prefix, int count, int perSave) {
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  if (book == nil) return false;
  for (int i = 0; i < count; i++) {
    KXPerson *p = [[KXPerson new] autorelease];
    [p setValue:[NSString stringWithFormat:@"%@%d", prefix, i] forProperty:KXFirstNameProperty];
    if (![book addRecord:p]) return false;
    if ((i + 1) % perSave == 0 && ![book save]) return false;
  }
  return [book save];
}

}  // namespace

class SharingTest : public BookTest {};

// What another process saved arrives on the next read, in place: records this book did not
// change are replaced, and the ones it changed show the other's changes in the properties
// this book did not touch, its own where it did. A record the other removed goes, even one
// this book changed: its save says the change was dropped.
TEST_F(SharingTest, ALongRunningBookSeesOthersSavesMergedWithItsOwn) {
  NSString *location = dir("shared");
  KXLocalAddressBook *server = open(location);
  KXPerson *edited = person(@"Edited", @"Before", nil), *removed = person(@"Removed", nil, nil);
  KXPerson *contested = person(@"Contested", nil, nil);
  KXGroup *g = group(@"Team");
  [server addRecord:edited];
  [server addRecord:removed];
  [server addRecord:contested];
  [server addRecord:g];
  [g addMember:removed];
  [g addMember:edited];
  ASSERT_TRUE([server save]);
  KXPerson *mine = person(@"Mine", nil, nil);
  [server addRecord:mine];
  [contested setValue:@"Server's" forProperty:KXLastNameProperty];
  [removed setValue:@"edited here" forProperty:KXNoteProperty];

  NSString *editedId = [edited uniqueId], *removedId = [removed uniqueId],
           *contestedId = [contested uniqueId];
  pid_t child = spawn([&] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
    if (other == nil || [other recordForUniqueId:[mine uniqueId]] != nil) return false;
    [[other recordForUniqueId:editedId] setValue:@"After" forProperty:KXLastNameProperty];
    [[other recordForUniqueId:contestedId] setValue:@"Child's" forProperty:KXLastNameProperty];
    [[other recordForUniqueId:contestedId] setValue:@"Renamed" forProperty:KXFirstNameProperty];
    [other removeRecord:[other recordForUniqueId:removedId]];
    KXPerson *theirs = [[KXPerson new] autorelease];
    [theirs setValue:@"Theirs" forProperty:KXFirstNameProperty];
    [other addRecord:theirs];
    return (bool)[other save];
  });
  ASSERT_EQ(0, waitStatus(child));

  // The next read brings the child's save in, in place, without losing the unsaved record.
  EXPECT_EQ(4u, [[server people] count]);
  EXPECT_EQ(S(@"After"), S([edited valueForProperty:KXLastNameProperty]));
  EXPECT_TRUE([server recordForUniqueId:removedId] == nil);
  EXPECT_TRUE([server recordForUniqueId:[mine uniqueId]] == mine);
  EXPECT_TRUE([server recordForUniqueId:contestedId] == contested);
  EXPECT_EQ(S(@"Renamed"), S([contested valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(S(@"Server's"), S([contested valueForProperty:KXLastNameProperty])) << "this book's change stays";
  EXPECT_TRUE([uids([g members]) isEqual:[NSArray arrayWithObject:editedId]]);
  NSError *conflicts = nil;
  ASSERT_TRUE([server saveReturningConflicts:&conflicts error:NULL]);
  EXPECT_EQ(KXErrorConflict, [conflicts code]);
  EXPECT_TRUE([[[conflicts userInfo] objectForKey:KXMergedRecordIdsKey]
      isEqual:[NSArray arrayWithObject:contestedId]]);
  EXPECT_TRUE([[[conflicts userInfo] objectForKey:KXDroppedRecordIdsKey]
      isEqual:[NSArray arrayWithObject:removedId]]);
  EXPECT_EQ(
      "1 record was merged with changes saved by others; changes to 1 record were dropped because others "
      "removed it",
      S([conflicts localizedDescription]));

  KXLocalAddressBook *after = reopen(server);
  EXPECT_EQ(4u, [[after people] count]);
  EXPECT_TRUE([after recordForUniqueId:[mine uniqueId]] != nil);
  EXPECT_TRUE([after recordForUniqueId:removedId] == nil);
  EXPECT_EQ(S(@"Server's"), S([[after recordForUniqueId:contestedId] valueForProperty:KXLastNameProperty]));
  EXPECT_EQ(S(@"Renamed"), S([[after recordForUniqueId:contestedId] valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(S(@"After"), S([[after recordForUniqueId:editedId] valueForProperty:KXLastNameProperty]));
}

TEST_F(SharingTest, ProcessesSavingAtTheSameTimeLoseNothing) {
  NSString *location = dir("busy");
  ASSERT_TRUE(open(location) != nil);
  const int kEach = 300, kPerSave = 10;
  pid_t a = spawn([&] { return addPeople(location, @"a", kEach, kPerSave); });
  pid_t b = spawn([&] { return addPeople(location, @"b", kEach, kPerSave); });
  EXPECT_EQ(0, waitStatus(a));
  EXPECT_EQ(0, waitStatus(b));
  EXPECT_EQ(static_cast<NSUInteger>(2 * kEach), [[open(location) people] count]);
  EXPECT_EQ("ok", integrityCheck(S(location) + "/book.sqlite"));
}

// A child adds a batch and saves it, stopped by WalStall at a chosen point of the save's
// writes, where it reports and waits; killed there, it has interrupted its save for certain.
// Stopped before a write, none of the batch may be in the book; stopped at the sync after the
// commit frame, all of it (nobody else has the book open: see WalStall.h). The book is sound
// after each kill and takes the next save.
TEST_F(SharingTest, KilledDuringASaveTheBookHoldsAllOrNothing) {
  NSString *location = dir("killed");
  // No book stays open in this process: forked children inherit no connection, and nothing
  // but the dead child's own writes decides what the next opener finds.
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  bool filled = addPeople(location, @"base", 100, 100);
  [pool release];
  ASSERT_TRUE(filled);
  NSUInteger expected = 100;
  const int kBatch = 5000;

  // A save left to finish reports how many writes it made to the log.
  auto saveBatch = [&](int round, const kxtest::WalStallPlan &plan, int reportFd) {
    return spawn([&] {
      kxtest::installWalStall();
      KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
      for (int i = 0; i < kBatch; i++) {
        KXPerson *p = [[KXPerson new] autorelease];
        [p setValue:[NSString stringWithFormat:@"round%d-%d", round, i] forProperty:KXFirstNameProperty];
        [book addRecord:p];
      }
      kxtest::armWalStall(plan, reportFd);
      if (![book save]) return false;
      kxtest::WalStop finished{'-', kxtest::walWritesBeforeCommit()};
      return write(reportFd, &finished, sizeof finished) == sizeof finished;
    });
  };
  // What the child reported; where is 0 when it reported nothing within a minute.
  auto reportFrom = [](int fd) {
    kxtest::WalStop stop{0, 0};
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 60000) != 1 || read(fd, &stop, sizeof stop) != sizeof stop) stop.where = 0;
    return stop;
  };
  auto expectBookHolds = [&](NSUInteger count) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    EXPECT_EQ("ok", integrityCheck(S(location) + "/book.sqlite"));
    EXPECT_EQ(count, [[open(location) people] count]);
    [pool release];
  };

  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  ASSERT_EQ(0, waitStatus(saveBatch(0, kxtest::WalStallPlan(), fds[1])));
  const int writes = reportFrom(fds[0]).writesDone;
  close(fds[0]);
  close(fds[1]);
  ASSERT_GT(writes, 4) << "the save wrote no log the stall could see";
  expected += kBatch;
  expectBookHolds(expected);

  // Later saves write a little more than the first (the book grows), so every write number up
  // to the first save's last is met before the commit.
  std::random_device seed;
  std::mt19937 random(seed());
  const int somewhere = std::uniform_int_distribution<int>(1, writes - 1)(random);
  struct Stop {
    const char *name;
    kxtest::WalStallPlan plan;
    char where;
  } stops[] = {
      {"before the first write", {1, false, false}, 'w'},
      {"before the first frame", {2, false, false}, 'w'},
      {"halfway", {writes / 2, false, false}, 'w'},
      {"somewhere", {somewhere, false, false}, 'w'},
      {"before the commit frame's page", {0, true, false}, 'c'},
      {"at the sync after the commit frame", {0, false, true}, 's'},
  };
  for (size_t round = 0; round < sizeof stops / sizeof stops[0]; round++) {
    const Stop &stop = stops[round];
    SCOPED_TRACE(std::string(stop.name) + " (write " + std::to_string(stop.plan.beforeWrite) + " of about " +
                 std::to_string(writes) + ")");
    ASSERT_EQ(0, pipe(fds));
    pid_t child = saveBatch(static_cast<int>(round) + 1, stop.plan, fds[1]);
    kxtest::WalStop reported = reportFrom(fds[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    close(fds[1]);
    ASSERT_EQ(stop.where, reported.where) << "the child did not stop where it should, in its save";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the kill did not end the child";
    if (stop.where == 's') expected += kBatch;
    expectBookHolds(expected);
  }
}

TEST_F(SharingTest, ASaveThatCannotWriteSaysSoAndKeepsItsChanges) {
  KXLocalAddressBook *book = newBook();
  [book _setBusyTimeout:50];
  KXPerson *p = person(@"Waiting", nil, nil);
  [book addRecord:p];
  // Another writer holds the book for longer than this one waits.
  std::string store = S([book location]) + "/book.sqlite";
  sqlite3 *other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(store.c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  NSError *error = nil;
  EXPECT_FALSE([book saveAndReturnError:&error]);
  EXPECT_EQ(KXErrorBusy, [error code]);
  EXPECT_EQ("another program is saving the book in " + S([book location]), S([error localizedDescription]));
  EXPECT_TRUE([book hasUnsavedChanges]);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(0u, [[reopen(book) people] count]);

  ASSERT_TRUE([book save]);
  EXPECT_FALSE([book hasUnsavedChanges]);
  EXPECT_TRUE([reopen(book) recordForUniqueId:[p uniqueId]] != nil);
}
