// Several processes on one book: a save writes only what changed, so nobody loses what
// another saved, and a long-running process (a server) sees others' saves on its next read.
// A process killed in the middle of a save leaves all or nothing of it, and a sound file.
#include "BookTest.h"
#include "ForkedBody.h"

#include <sqlite3.h>
#include <chrono>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
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

std::string integrityCheck(NSString *location) {
  std::string path = std::string([location UTF8String]) + "/book.sqlite";
  sqlite3 *db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
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

}  // namespace

class SharingTest : public BookTest {};

TEST_F(SharingTest, ALongRunningBookSeesOthersSavesAndKeepsItsOwn) {
  NSString *location = dir("shared");
  KXLocalAddressBook *server = open(location);
  KXPerson *edited = person(@"Edited", @"Before", nil), *removed = person(@"Removed", nil, nil);
  KXPerson *contested = person(@"Contested", nil, nil);
  KXGroup *g = group(@"Team");
  [server addRecord:edited]; [server addRecord:removed]; [server addRecord:contested]; [server addRecord:g];
  [g addMember:removed]; [g addMember:edited];
  ASSERT_TRUE([server save]);
  KXPerson *mine = person(@"Mine", nil, nil);
  [server addRecord:mine];
  [contested setValue:@"Server's" forProperty:KXLastNameProperty];

  NSString *editedId = [edited uniqueId], *removedId = [removed uniqueId], *contestedId = [contested uniqueId];
  pid_t child = spawn([&] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
    if (other == nil || [other recordForUniqueId:[mine uniqueId]] != nil) return false;
    [[other recordForUniqueId:editedId] setValue:@"After" forProperty:KXLastNameProperty];
    [[other recordForUniqueId:contestedId] setValue:@"Child's" forProperty:KXLastNameProperty];
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
  EXPECT_EQ(S(@"Server's"), S([contested valueForProperty:KXLastNameProperty])) << "the unsaved local change wins";
  EXPECT_TRUE([uids([g members]) isEqual:[NSArray arrayWithObject:editedId]]);
  ASSERT_TRUE([server save]);

  KXLocalAddressBook *after = reopen(server);
  EXPECT_EQ(4u, [[after people] count]);
  EXPECT_TRUE([after recordForUniqueId:[mine uniqueId]] != nil);
  EXPECT_EQ(S(@"Server's"), S([[after recordForUniqueId:contestedId] valueForProperty:KXLastNameProperty]));
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
  EXPECT_EQ("ok", integrityCheck(location));
}

TEST_F(SharingTest, KilledDuringASaveTheBookHoldsAllOrNothing) {
  NSString *location = dir("killed");
  ASSERT_TRUE(addPeople(location, @"base", 100, 100));
  const int kBatch = 5000, kRounds = 6;
  std::mt19937 random(static_cast<unsigned>(getpid()));
  double saveSeconds = 0;
  NSUInteger expected = 100;
  int interrupted = 0;
  for (int round = 0; round < kRounds; round++) {
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = spawn([&] {
      KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
      for (int i = 0; i < kBatch; i++) {
        KXPerson *p = [[KXPerson new] autorelease];
        [p setValue:[NSString stringWithFormat:@"round%d-%d", round, i] forProperty:KXFirstNameProperty];
        [book addRecord:p];
      }
      char go = 'g';
      if (write(ready[1], &go, 1) != 1) return false;
      return (bool)[book save];
    });
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(1, read(ready[0], &byte, 1));
    close(ready[0]);
    auto start = std::chrono::steady_clock::now();
    if (round == 0) {
      // The first round measures how long a save takes; the others kill at a random moment in it.
      ASSERT_EQ(0, waitStatus(child));
      saveSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } else {
      std::uniform_real_distribution<double> when(0, saveSeconds * 1.2);
      std::this_thread::sleep_for(std::chrono::duration<double>(when(random)));
      kill(child, SIGKILL);
      if (waitStatus(child) != 0) interrupted++;
    }
    ASSERT_EQ("ok", integrityCheck(location)) << "round " << round;
    NSUInteger count = [[open(location) people] count];
    EXPECT_TRUE(count == expected || count == expected + kBatch) << "round " << round << ": " << count;
    expected = count;
  }
  RecordProperty("interrupted", interrupted);
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
  EXPECT_FALSE([book save]);
  EXPECT_TRUE([book hasUnsavedChanges]);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(0u, [[reopen(book) people] count]);

  ASSERT_TRUE([book save]);
  EXPECT_FALSE([book hasUnsavedChanges]);
  EXPECT_TRUE([reopen(book) recordForUniqueId:[p uniqueId]] != nil);
}
