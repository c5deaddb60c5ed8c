// Books written by earlier versions of the store (1: no indexes on seq; 2: no save times, names
// or identity) open with every value they hold and are brought up to version 3 on the way; one
// that nobody may write is read as it is; one of a newer version is refused untouched.
#include "BookTest.h"
#import "coding/KXCodec.h"

#include <sqlite3.h>

#include <ctime>
#include <vector>

namespace {

// The schema and the meta rows of store version 1, as it wrote them.
const char kVersion1[] =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
    "CREATE TABLE records(uid TEXT PRIMARY KEY, kind INTEGER NOT NULL,"
    "  data BLOB NOT NULL, seq INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE removed(uid TEXT PRIMARY KEY, seq INTEGER NOT NULL) WITHOUT ROWID;"
    "INSERT INTO meta(key, value) VALUES('format', 'kindex-address-book'), ('version', 1), ('seq', 2);";

// What version 2 added: indexes on seq.
const char kVersion2[] = "CREATE INDEX records_by_seq ON records(seq);"
                         "CREATE INDEX removed_by_seq ON removed(seq);"
                         "UPDATE meta SET value = 2 WHERE key = 'version';";

void writeOldBook(const std::string &path, NSArray *records, int version) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, kVersion1, nullptr, nullptr, nullptr));
  if (version == 2) {
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, kVersion2, nullptr, nullptr, nullptr));
  }
  sqlite3_stmt *put = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO records VALUES(?1, ?2, ?3, ?4)", -1, &put, nullptr);
  for (NSUInteger i = 0; i < [records count]; i++) {
    KXRecord *record = [records objectAtIndex:i];
    std::string data;
    kx::encodeRecord(record, &data);
    std::string uid = S([record uniqueId]);
    sqlite3_bind_text(put, 1, uid.data(), static_cast<int>(uid.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(put, 2, [record _kind]);
    sqlite3_bind_blob(put, 3, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(put, 4, static_cast<int>(i % 2) + 1);
    ASSERT_EQ(SQLITE_DONE, sqlite3_step(put));
    sqlite3_reset(put);
  }
  sqlite3_finalize(put);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "INSERT INTO removed VALUES('gone', 2)", nullptr, nullptr, nullptr));
  sqlite3_close(db);
}

// "version indexes" of the store: its meta version and the names of its indexes.
std::string versionAndIndexes(const std::string &path) {
  sqlite3 *db = nullptr;
  std::string result;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT value FROM meta WHERE key = 'version' UNION ALL "
                     "SELECT name FROM sqlite_master WHERE type = 'index' AND name NOT LIKE 'sqlite_%' "
                     "ORDER BY 1",
                     -1, &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    result += (result.empty() ? "" : " ") +
              std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

}  // namespace

class VersionTest : public BookTest {
 protected:
  void SetUp() override {
    BookTest::SetUp();
    location_ = dir("old");
    store_ = S(location_) + "/book.sqlite";
    ann_ = person(@"Ann", @"Ødegård", @"ann@example.org");
    KXMutableMultiValue *phones = [[[KXMutableMultiValue alloc] init] autorelease];
    [phones addValue:@"+41 1" withLabel:KXPhoneWorkLabel];
    primary_ = [[phones addValue:@"+41 2" withLabel:KXPhoneMobileLabel] retain];
    [phones setPrimaryIdentifier:primary_];
    [ann_ setValue:phones forProperty:KXPhoneProperty];
    bob_ = person(@"Bob", nil, nil);
    // A group with members in the store needs a book to add them through.
    team_ = group(@"Team");
    KXLocalAddressBook *scratch = newBook("scratch");
    [scratch addRecord:ann_];
    [scratch addRecord:bob_];
    [scratch addRecord:team_];
    [team_ addMember:bob_];
    [team_ addMember:ann_];
    writeOldBook(store_, [NSArray arrayWithObjects:ann_, bob_, team_, nil], 1);
  }
  void rewriteAsVersion2() {
    ::unlink(store_.c_str());
    writeOldBook(store_, [NSArray arrayWithObjects:ann_, bob_, team_, nil], 2);
  }
  void TearDown() override {
    [primary_ release];
    BookTest::TearDown();
  }

  void expectEveryValue(KXAddressBook *book) {
    EXPECT_EQ(2u, [[book people] count]);
    KXRecord *ann = [book recordForUniqueId:[ann_ uniqueId]];
    NSArray *keys = [ann_ properties];
    EXPECT_EQ([keys count], [[ann properties] count]);
    for (NSUInteger i = 0; i < [keys count]; i++) {
      NSString *key = [keys objectAtIndex:i];
      EXPECT_TRUE([[ann_ valueForProperty:key] isEqual:[ann valueForProperty:key]]) << S(key);
    }
    EXPECT_EQ(S(primary_), S([[ann valueForProperty:KXPhoneProperty] primaryIdentifier]));
    KXGroup *team = (KXGroup *)[book recordForUniqueId:[team_ uniqueId]];
    EXPECT_TRUE(
        [uids([team members]) isEqual:([NSArray arrayWithObjects:[bob_ uniqueId], [ann_ uniqueId], nil])]);
  }

  NSString *location_ = nil;
  std::string store_;
  KXPerson *ann_ = nil, *bob_ = nil;
  KXGroup *team_ = nil;
  NSString *primary_ = nil;
};

TEST_F(VersionTest, AVersion1BookKeepsEveryValueAndIsUpgraded) {
  ASSERT_EQ("1", versionAndIndexes(store_));
  KXLocalAddressBook *book = open(location_);
  ASSERT_TRUE(book != nil);
  expectEveryValue(book);
  EXPECT_EQ("3 records_by_seq removed_by_seq", versionAndIndexes(store_));

  // It saves on as a book of version 2, and what it saved is seen by another opener.
  [[book recordForUniqueId:[bob_ uniqueId]] setValue:@"Robert" forProperty:KXFirstNameProperty];
  ASSERT_TRUE([book save]);
  KXLocalAddressBook *again = reopen(book);
  expectEveryValue(again);
  EXPECT_EQ(S(@"Robert"),
            S([[again recordForUniqueId:[bob_ uniqueId]] valueForProperty:KXFirstNameProperty]));
}

TEST_F(VersionTest, AVersion1BookNobodyMayWriteIsReadAsItIs) {
  ::chmod(store_.c_str(), 0444);
  int status = asItsOwner(location_, [&] {
    NSError *error = nil;
    KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location_
                                                                       error:&error] autorelease];
    if (book == nil) return 100 + static_cast<int>([error code]);
    expectEveryValue(book);
    [[book recordForUniqueId:[bob_ uniqueId]] setValue:@"Robert" forProperty:KXFirstNameProperty];
    if ([book saveAndReturnError:&error]) return 1;
    return [error code] == KXErrorPermissionDenied && !::testing::Test::HasFailure() ? 0 : 2;
  });
  EXPECT_EQ(0, status);
  EXPECT_EQ("1", versionAndIndexes(store_));
}

// Version 2 to 3: every value, the seqs as versions, a fresh identity, the upgrade's time as
// the old saves' time, no names; and the removal version 2 recorded is still reported.
TEST_F(VersionTest, AVersion2BookKeepsEveryValueAndGetsWhatSyncNeeds) {
  rewriteAsVersion2();
  ASSERT_EQ("2 records_by_seq removed_by_seq", versionAndIndexes(store_));
  const int64_t before = static_cast<int64_t>(::time(nullptr));
  KXLocalAddressBook *book = open(location_);
  ASSERT_TRUE(book != nil);
  expectEveryValue(book);
  EXPECT_EQ("3 records_by_seq removed_by_seq", versionAndIndexes(store_));
  EXPECT_EQ(2u, [book saveCount]);
  EXPECT_EQ(32u, [[book storeIdentity] length]);
  KXSavedRecordInfo info;
  ASSERT_TRUE([book getSavedRecordInfo:&info forUniqueId:[bob_ uniqueId]]);
  EXPECT_EQ(2u, info.version);
  EXPECT_GE(info.modified, before);
  EXPECT_TRUE(info.resourceName == nullptr);
  std::vector<std::string> removed;
  ASSERT_TRUE([book enumerateChangesSinceSaveCount:0
      written:[](const KXSavedRecordInfo *, void *) {}
      removed:[](const char *uid, size_t length, const char *name, size_t, void *context) {
        static_cast<std::vector<std::string> *>(context)->push_back(std::string(uid, length) +
                                                                    (name ? "+name" : ""));
      }
      context:&removed
      error:NULL]);
  EXPECT_EQ(std::vector<std::string>{"gone"}, removed);

  // It saves on as a book of version 3, names included, and keeps its identity.
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book
                                                                       readOnly:NO] autorelease];
  ASSERT_TRUE([view setResourceName:@"bob.vcf" forUniqueId:[bob_ uniqueId]]);
  ASSERT_TRUE([view save]);
  KXLocalAddressBook *again = reopen(book);
  expectEveryValue(again);
  EXPECT_EQ(S([bob_ uniqueId]), S([again uniqueIdForResourceName:@"bob.vcf"]));
  EXPECT_EQ(S([book storeIdentity]), S([again storeIdentity]));
}

TEST_F(VersionTest, AVersion2BookNobodyMayWriteIsReadAsItIs) {
  rewriteAsVersion2();
  ::chmod(store_.c_str(), 0444);
  int status = asItsOwner(location_, [&] {
    NSError *error = nil;
    KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location_
                                                                       error:&error] autorelease];
    if (book == nil) return 100 + static_cast<int>([error code]);
    expectEveryValue(book);
    KXSavedRecordInfo info;
    uint64_t count = 0;
    if (![book getSavedRecordInfo:&info forUniqueId:[ann_ uniqueId]] || info.modified <= 0) return 3;
    if (![book getSaveCount:&count forSyncToken:[book syncToken]] || count != 2) return 4;
    if ([[open(location_) storeIdentity] isEqual:[book storeIdentity]] == NO) return 5;
    KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book
                                                                         readOnly:NO] autorelease];
    [view setResourceName:@"ann.vcf" forUniqueId:[ann_ uniqueId]];
    if ([view saveAndReturnError:&error]) return 1;
    return [error code] == KXErrorPermissionDenied && !::testing::Test::HasFailure() ? 0 : 2;
  });
  EXPECT_EQ(0, status);
  EXPECT_EQ("2 records_by_seq removed_by_seq", versionAndIndexes(store_));
}

TEST_F(VersionTest, ABookOfTheNextVersionIsRefusedUntouched) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(store_.c_str(), &db));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(db, "UPDATE meta SET value = 4 WHERE key = 'version'", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  NSError *error = nil;
  EXPECT_TRUE([[[KXLocalAddressBook alloc] initWithLocation:location_ error:&error] autorelease] == nil);
  EXPECT_EQ(KXErrorNotABook, [error code]);
  EXPECT_EQ("4", versionAndIndexes(store_));
}
