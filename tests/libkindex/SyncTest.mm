// What a sync server relies on (KXSync.h): versions and save times per record, a token that only
// its own book takes, the changes since a save with every removal named once, resource names that
// last and stay unique, and saves that write only over the versions they were told of.
#include "BookTest.h"
#include "ForkedBody.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <vector>

namespace {

std::string bytes(const char *text, size_t length) {
  return text != nullptr ? std::string(text, length) : "(none)";
}

// A saved record's info, copied out of the book.
struct Info {
  std::string uid;
  bool isGroup = false;
  uint64_t version = 0;
  int64_t modified = 0;
  std::string name;  // "(none)" when it has none
};

Info Copy(const KXSavedRecordInfo &info) {
  return Info{std::string(info.uniqueId, info.uniqueIdLength), info.isGroup != NO, info.version,
              info.modified, bytes(info.resourceName, info.resourceNameLength)};
}

// Everything enumerateChangesSinceSaveCount: reports, in order: "-uid name" per removal,
// "+uid" per record written.
struct Changes {
  std::vector<std::string> lines;
  std::map<std::string, Info> written;
};

bool changesSince(KXLocalAddressBook *book, uint64_t since, Changes *changes) {
  return [book enumerateChangesSinceSaveCount:since
      written:[](const KXSavedRecordInfo *info, void *context) {
        Changes *changes = static_cast<Changes *>(context);
        Info copy = Copy(*info);
        changes->lines.push_back("+" + copy.uid);
        changes->written[copy.uid] = copy;
      }
      removed:[](const char *uid, size_t length, const char *name, size_t nameLength, void *context) {
        static_cast<Changes *>(context)->lines.push_back("-" + std::string(uid, length) + " " +
                                                         bytes(name, nameLength));
      }
      context:changes
      error:NULL];
}

}  // namespace

class SyncTest : public BookTest {
 protected:
  void SetUp() override {
    BookTest::SetUp();
    location_ = dir("book");
    book_ = open(location_);
    ann_ = person(@"Ann", nil, nil);
    [book_ addRecord:ann_];
    ASSERT_TRUE([book_ save]);
  }

  Info info(KXLocalAddressBook *book, NSString *uid) {
    KXSavedRecordInfo saved;
    if (![book getSavedRecordInfo:&saved forUniqueId:uid]) return Info();
    return Copy(saved);
  }
  uint64_t version(NSString *uid) { return info(book_, uid).version; }

  // A read-write view of the book, for the saves a sync server makes.
  KXPublicAddressBook *view(KXLocalAddressBook *book = nil) {
    return [[[KXPublicAddressBook alloc] initWithAddressBook:(book != nil ? book : book_)
                                                    readOnly:NO] autorelease];
  }

  // Another process sets Ann's first name.
  void renameAnnElsewhere(NSString *first) {
    NSString *location = location_, *uid = [ann_ uniqueId];
    ASSERT_EQ(0, waitStatus(spawn([=] {
                KXLocalAddressBook *other = open(location);
                [[other recordForUniqueId:uid] setValue:first forProperty:KXFirstNameProperty];
                return [other save] == YES;
              })));
  }

  NSString *location_ = nil;
  KXLocalAddressBook *book_ = nil;
  KXPerson *ann_ = nil;
};

// The versions a conditional save requires are checked once the save has the store, against
// what is stored then: another process's save after the view last read is not missed, and on
// a mismatch nothing of the save is written.
TEST_F(SyncTest, ASaveRequiringVersionsWritesOnlyOverThem) {
  struct Row {
    const char *what;
    bool otherSavesFirst;  // another process changes Ann after the view read her
    int required;          // 0 absent, 1 any, 2 the version read, 3 a list holding it, 4 another version
    bool saves;
  } rows[] = {
      {"absent, but Ann is there", false, 0, false},
      {"present at any version", false, 1, true},
      {"present at any version, after another save", true, 1, true},
      {"at the version read", false, 2, true},
      {"at one of a list holding the version read", false, 3, true},
      {"at the version read, but another save came first", true, 2, false},
      {"at a version Ann never had", false, 4, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const uint64_t read = version([ann_ uniqueId]);
    KXPublicAddressBook *v = view();
    [[v recordForUniqueId:[ann_ uniqueId]] setValue:@"Jones" forProperty:KXLastNameProperty];
    if (row.otherSavesFirst) renameAnnElsewhere(@"Anna");
    uint64_t versions[] = {KXRecordAbsent, KXRecordAtAnyVersion, read, read, read + 1000};
    id required = [NSNumber numberWithUnsignedLongLong:versions[row.required]];
    if (row.required == 3)
      required = [NSArray arrayWithObjects:[NSNumber numberWithUnsignedLongLong:read + 1000], required, nil];
    NSError *error = nil;
    const uint64_t before = [book_ saveCount];
    BOOL saved = [v saveRequiringVersions:[NSDictionary dictionaryWithObject:required forKey:[ann_ uniqueId]]
                                    error:&error];
    EXPECT_EQ(row.saves, saved == YES);
    KXRecord *stored = [book_ recordForUniqueId:[ann_ uniqueId]];
    if (row.saves) {
      EXPECT_EQ(S(@"Jones"), S([stored valueForProperty:KXLastNameProperty]));
      EXPECT_FALSE([v hasUnsavedChanges]);
    } else {
      EXPECT_EQ(KXErrorNotAtVersion, [error code]);
      EXPECT_TRUE([v hasUnsavedChanges]);
      EXPECT_EQ(before + (row.otherSavesFirst ? 1 : 0), [book_ saveCount]);
      EXPECT_EQ(S(nil), S([stored valueForProperty:KXLastNameProperty]));
    }
    // Another process's change of another property survives either way.
    if (row.otherSavesFirst) {
      EXPECT_EQ(S(@"Anna"), S([stored valueForProperty:KXFirstNameProperty]));
    }
    [stored removeValueForProperty:KXLastNameProperty];
    ASSERT_TRUE([book_ save]);
  }
}

TEST_F(SyncTest, ASaveRequiringAbsenceMakesANewRecordOnce) {
  KXPerson *bob = [[[KXPerson alloc] initWithUniqueId:@"bob-card"] autorelease];
  [bob setValue:@"Bob" forProperty:KXFirstNameProperty];
  KXPublicAddressBook *first = view(), *second = view();
  ASSERT_TRUE([first addRecord:bob]);
  KXPerson *again = [[[KXPerson alloc] initWithUniqueId:@"bob-card"] autorelease];
  [again setValue:@"Robert" forProperty:KXFirstNameProperty];
  ASSERT_TRUE([second addRecord:again]);
  NSDictionary *absent =
      [NSDictionary dictionaryWithObject:[NSNumber numberWithUnsignedLongLong:KXRecordAbsent]
                                  forKey:@"bob-card"];
  NSError *error = nil;
  EXPECT_TRUE([first saveRequiringVersions:absent error:&error]);
  EXPECT_FALSE([second saveRequiringVersions:absent error:&error]);
  EXPECT_EQ(KXErrorNotAtVersion, [error code]);
  EXPECT_EQ(S(@"Bob"), S([[book_ recordForUniqueId:@"bob-card"] valueForProperty:KXFirstNameProperty]));
}

// Versions grow with each save of a record, and its modification time is that save's.
TEST_F(SyncTest, EachSaveOfARecordGivesItANewerVersionAndItsTime) {
  Info first = info(book_, [ann_ uniqueId]);
  EXPECT_EQ([book_ saveCount], first.version);
  EXPECT_FALSE(first.isGroup);
  EXPECT_EQ("(none)", first.name);
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  [ann_ setValue:@"Anne" forProperty:KXFirstNameProperty];
  ASSERT_TRUE([book_ save]);
  Info second = info(book_, [ann_ uniqueId]);
  EXPECT_GT(second.version, first.version);
  EXPECT_GE(second.modified, before);
  EXPECT_LE(second.modified, static_cast<int64_t>(std::time(nullptr)));
  // Another book on the same store reads the same.
  Info elsewhere = info(open(location_), [ann_ uniqueId]);
  EXPECT_EQ(second.version, elsewhere.version);
  EXPECT_EQ(second.modified, elsewhere.modified);

  KXGroup *team = group(@"Team");
  [book_ addRecord:team];
  ASSERT_TRUE([book_ save]);
  EXPECT_TRUE(info(book_, [team uniqueId]).isGroup);
  size_t count = 0;
  [book_ enumerateSavedRecordsWithFunction:[](const KXSavedRecordInfo *, void *context) {
    ++*static_cast<size_t *>(context);
  }
                                   context:&count];
  EXPECT_EQ(2u, count);
}

TEST_F(SyncTest, ATokenIsTakenOnlyByItsOwnBookUpToItsLastSave) {
  NSString *token = [book_ syncToken];
  NSString *identity = [book_ storeIdentity];
  EXPECT_TRUE([token hasPrefix:identity]);
  EXPECT_EQ(S(identity), S([open(location_) storeIdentity]));
  KXLocalAddressBook *other = newBook("other");
  EXPECT_NE(S(identity), S([other storeIdentity]));
  const unsigned long long now = [book_ saveCount];
  struct Row {
    std::string token;
    bool taken;
  } rows[] = {
      {S(token), true},
      {S(identity) + "-0", true},
      {S(identity) + "-" + std::to_string(now + 1), false},
      {S(identity) + "-99999999999999999999999", false},
      {S(identity) + "-", false},
      {S(identity) + "-1x", false},
      {S(identity) + "--1", false},
      {S(identity), false},
      {S([other syncToken]), false},
      {"", false},
      {"garbage", false},
  };
  for (const Row &row : rows) {
    uint64_t count = 12345;
    EXPECT_EQ(row.taken, [book_ getSaveCount:&count
                                forSyncToken:[NSString stringWithUTF8String:row.token.c_str()]] == YES)
        << row.token;
    if (row.taken) {
      EXPECT_LE(count, now) << row.token;
    }
  }
  Changes changes;
  EXPECT_FALSE(changesSince(book_, now + 1, &changes));
  EXPECT_TRUE(changes.lines.empty());
}

// Names last across reopening, belong to one record at a time, and go with the record: the
// removal reports the name once, and then another record may take it.
TEST_F(SyncTest, ResourceNamesAreKeptUniqueAndGoWithTheirRecords) {
  KXPublicAddressBook *v = view();
  EXPECT_TRUE([v setResourceName:@"ann.vcf" forUniqueId:[ann_ uniqueId]]);
  EXPECT_FALSE([v setResourceName:@"" forUniqueId:[ann_ uniqueId]]);
  EXPECT_FALSE([v setResourceName:@"nobody.vcf" forUniqueId:@"no-such-record"]);
  ASSERT_TRUE([v saveRequiringVersions:nil error:NULL]);
  EXPECT_EQ("ann.vcf", info(book_, [ann_ uniqueId]).name);

  KXLocalAddressBook *reopened = open(location_);
  EXPECT_EQ(S([ann_ uniqueId]), S([reopened uniqueIdForResourceName:@"ann.vcf"]));
  KXSavedRecordInfo named;
  ASSERT_TRUE([reopened getSavedRecordInfo:&named forResourceNameBytes:"ann.vcf" length:7]);
  EXPECT_EQ(S([ann_ uniqueId]), bytes(named.uniqueId, named.uniqueIdLength));
  EXPECT_FALSE([reopened getSavedRecordInfo:&named forResourceNameBytes:"ann" length:3]);
  // A name stays with its record; a read-only view names nothing.
  EXPECT_FALSE([view() setResourceName:@"anne.vcf" forUniqueId:[ann_ uniqueId]]);
  KXPublicAddressBook *readOnly = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                           readOnly:YES] autorelease];
  EXPECT_FALSE([readOnly setResourceName:@"x.vcf" forUniqueId:[ann_ uniqueId]]);

  // Another record cannot take the name while Ann holds it: nothing of that save is written.
  KXPublicAddressBook *w = view();
  KXPerson *bob = person(@"Bob", nil, nil);
  ASSERT_TRUE([w addRecord:bob]);
  ASSERT_TRUE([w setResourceName:@"ann.vcf" forUniqueId:[bob uniqueId]]);
  NSError *error = nil;
  EXPECT_FALSE([w saveRequiringVersions:nil error:&error]);
  EXPECT_EQ(KXErrorNameTaken, [error code]);
  EXPECT_TRUE([book_ recordForUniqueId:[bob uniqueId]] == nil);

  // Ann goes, with her name: reported once, then free.
  const uint64_t before = [book_ saveCount];
  KXPublicAddressBook *remover = view();
  ASSERT_TRUE([remover removeRecord:[remover recordForUniqueId:[ann_ uniqueId]]]);
  ASSERT_TRUE([remover saveRequiringVersions:nil error:NULL]);
  EXPECT_TRUE([book_ uniqueIdForResourceName:@"ann.vcf"] == nil);
  Changes changes;
  ASSERT_TRUE(changesSince(book_, before, &changes));
  EXPECT_EQ(std::vector<std::string>{"-" + S([ann_ uniqueId]) + " ann.vcf"}, changes.lines);
  EXPECT_TRUE([w saveRequiringVersions:nil error:&error]) << S([error localizedDescription]);
  EXPECT_EQ(S([bob uniqueId]), S([open(location_) uniqueIdForResourceName:@"ann.vcf"]));
  Changes later;
  ASSERT_TRUE(changesSince(book_, before + 1, &later));
  EXPECT_EQ(std::vector<std::string>{"+" + S([bob uniqueId])}, later.lines);
}

// The changes since a save: what the book's own saves, a view's and another process's wrote or
// removed, each once, with the records' infos as they are now.
TEST_F(SyncTest, ChangesSinceASaveNameWhatWasWrittenAndRemoved) {
  const uint64_t start = [book_ saveCount];
  KXPerson *bob = person(@"Bob", nil, nil), *cy = person(@"Cy", nil, nil);
  [book_ addRecord:bob];
  [book_ addRecord:cy];
  ASSERT_TRUE([book_ save]);
  const uint64_t middle = [book_ saveCount];
  // A view removes Cy; another process changes Ann.
  KXPublicAddressBook *v = view();
  ASSERT_TRUE([v removeRecord:[v recordForUniqueId:[cy uniqueId]]]);
  ASSERT_TRUE([v save]);
  renameAnnElsewhere(@"Anna");
  EXPECT_EQ(middle + 1, [book_ saveCount]);  // not caught up yet

  Changes sinceStart, sinceMiddle, sinceNow;
  ASSERT_TRUE(changesSince(book_, start, &sinceStart));
  EXPECT_EQ(middle + 2, [book_ saveCount]);
  ASSERT_TRUE(changesSince(book_, middle, &sinceMiddle));
  ASSERT_TRUE(changesSince(book_, [book_ saveCount], &sinceNow));
  std::string ann = S([ann_ uniqueId]), b = S([bob uniqueId]), c = S([cy uniqueId]);
  auto sorted = [](std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted({"-" + c + " (none)", "+" + ann, "+" + b}), sorted(sinceStart.lines));
  EXPECT_EQ(sorted({"-" + c + " (none)", "+" + ann}), sorted(sinceMiddle.lines));
  EXPECT_TRUE(sinceNow.lines.empty());
  EXPECT_EQ(middle + 2, sinceMiddle.written[ann].version);
  EXPECT_EQ(S(@"Anna"), S([[book_ recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
}

// What another process saved shows after -catchUpWithSaves without any other read.
TEST_F(SyncTest, CatchingUpShowsAnotherProcesssSave) {
  const uint64_t before = version([ann_ uniqueId]);
  renameAnnElsewhere(@"Anna");
  EXPECT_EQ(before, version([ann_ uniqueId]));
  [book_ catchUpWithSaves];
  EXPECT_EQ(before + 1, version([ann_ uniqueId]));
  EXPECT_EQ(before + 1, [book_ saveCount]);
}
