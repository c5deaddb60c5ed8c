// The CardDAV service over a real book (BookCollection.h): request rows of the protocol tables,
// and what only a book does: names that outlast a restart, records other clients made named by
// their uids, UID conflicts with them, cards the book writes its own way, groups both ways,
// and saves by other processes and in-process views showing in the next answer, and the other
// way round.
#import "DavHarness.h"

#import <Kindex/Kindex.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "BookCollection.h"
#include "CardName.h"
#include "DavXml.h"
#include "RequestRows.h"
#include "TempDir.h"

// How long a save waits for another process's (10 s unless set), private to the library.
@interface KXLocalAddressBook (BusyTimeout)
- (void)_setBusyTimeout:(int)milliseconds;
@end

namespace davtest {
namespace {

const std::string kVcardType = "Content-Type: text/vcard; charset=utf-8\r\n";

std::string cardPathOf(const std::string &name) {
  return std::string(kCollection) + name;
}

// Runs body in a forked child (another process on the book); true when it gave true.
bool inAnotherProcess(const std::function<bool()> &body) {
  pid_t pid = fork();
  if (pid == 0) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    bool ok = body();
    [pool release];
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

NSString *NS(const std::string &text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

class BookDav : public DavTest {
 protected:
  void SetUp() override {
    DavTest::SetUp();
    [service_ stop];
    openBook("book");
    restart();
  }
  void TearDown() override {
    DavTest::TearDown();
    closeBook();
  }

  void openBook(const std::string &name) {
    location_ = tmp_.path() + "/" + name;
    if (::access(location_.c_str(), F_OK) != 0) tmp_.makeDir(name);
    book_ = [[KXLocalAddressBook alloc] initWithLocation:NS(location_)];
    ASSERT_TRUE(book_ != nil);
    bookCollection_ = carddav::newBookCollection(book_);
    served_ = bookCollection_.get();
  }
  void closeBook() {
    bookCollection_.reset();
    served_ = nullptr;
    [book_ release];
    book_ = nil;
  }
  // The service over the book as bookd would have it after a restart, or over a new book.
  void reopen(const std::string &name) {
    [service_ stop];
    closeBook();
    openBook(name);
    restart();
  }

  // A record made the way a Distributed Objects client makes one: through a view of the book.
  NSString *addThroughAView(KXRecord *record) {
    KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                         readOnly:NO] autorelease];
    EXPECT_TRUE([view addRecord:record]);
    EXPECT_TRUE([view save]);
    return [record uniqueId];
  }
  static KXPerson *Person(NSString *uid, NSString *first) {
    KXPerson *person =
        uid != nil ? [[[KXPerson alloc] initWithUniqueId:uid] autorelease] : [[KXPerson new] autorelease];
    [person setValue:first forProperty:KXFirstNameProperty];
    return person;
  }

  HttpResponse put(const std::string &name, const std::string &card, const std::string &headers = "") {
    return rw("PUT", cardPathOf(name), kVcardType + headers, card);
  }
  std::string syncToken() {
    return xPathString(rw("REPORT", kCollection, "", syncReport("")).body, "/d:multistatus/d:sync-token");
  }
  HttpResponse syncSince(const std::string &token) {
    return rw("REPORT", kCollection, "", syncReport(token));
  }

  kxtest::TempDir tmp_{"kindex-dav-book"};
  std::string location_;
  KXLocalAddressBook *book_ = nil;
  std::unique_ptr<carddav::CardCollection> bookCollection_;
};

// Rows of the protocol tables that hold of any collection that stores what it is given: each
// row on a new book holding the four known cards, put in order (versions 1 to 4).
TEST_F(BookDav, RequestRowsOverABook) {
  const std::set<std::string> chosen = {
      "collection, depth 1: every card with its ETag, names encoded",
      "collection, depth 1 with Accept vCard 4.0: the 4.0 ETags",
      "card by its encoded name",
      "card name spelled with other escapes",
      "missing card",
      "GET with the current ETag in If-None-Match",
      "GET in vCard 4.0",
      "HEAD",
      "GET a missing card",
      "create with a name of the client's choosing",
      "create over an existing card with If-None-Match: *",
      "update with one of several ETags",
      "update with an ETag it has not seen",
      "If-Match on a missing card",
      "If-Match: * on a missing card",
      "If-Match: * on an existing card",
      "unconditional update",
      "Apple group card",
      "a UID another card holds",
      "two vCards",
      "DELETE with the current ETag",
      "DELETE with an old ETag",
      "DELETE unconditionally",
      "DELETE a missing card",
      "multiget: cards, a missing one and one outside the collection",
      "multiget in vCard 4.0",
      "query: contains, unicode-casemap by default",
      "query: is-not-defined",
      "query: negate-condition",
  };
  std::vector<Row> rows = propfindRows();
  for (auto more : {readRows(), writeRows(), reportRows()}) rows.insert(rows.end(), more.begin(), more.end());
  size_t ran = 0, book = 0;
  for (const Row &row : rows) {
    if (chosen.count(row.name) == 0) continue;
    SCOPED_TRACE(row.name);
    ++ran;
    reopen("rows-" + std::to_string(++book));
    addKnownCards();
    checkAnswer(row, rw(row.method, row.path, row.headers, row.body));
  }
  EXPECT_EQ(chosen.size(), ran);
}

// A client's names outlast bookd: after a restart the same names, ETags and texts.
TEST_F(BookDav, NamesAndVersionsOutlastARestart) {
  addKnownCards();
  ASSERT_EQ(201, put("0A1B-c d~_.x", kxtest::Card("carol", "Carol")).status);
  const std::string before = rw("PROPFIND", kCollection, "Depth: 1\r\n", propfind("<d:getetag/>")).body;
  const std::string carol = rw("GET", cardPathOf("0A1B-c d~_.x")).body;
  reopen("book");
  const std::string after = rw("PROPFIND", kCollection, "Depth: 1\r\n", propfind("<d:getetag/>")).body;
  EXPECT_EQ(before, after);
  EXPECT_EQ(
      "", checkXml(after, {responses(6), found("/addressbooks/book/0A1B-c%20d~_.x", "d:getetag='\"5-3\"'")}));
  EXPECT_EQ(carol, rw("GET", cardPathOf("0A1B-c d~_.x")).body);
}

// Records other clients made have no name of a client's: each is named after its uid, which
// is percent-encoded where a name cannot hold it, or hashed where it is too long; each name
// leads back to its record, and a card sent under another name with its UID is a conflict.
TEST_F(BookDav, RecordsOfOtherClientsAreNamedAfterTheirUids) {
  const std::string longUid(300, 'u');
  struct Row {
    std::string uid;
    std::string name;
  } rows[] = {
      {"plain-uid", "plain-uid.vcf"},
      {"a/b%c", "a%2Fb%25c.vcf"},
      {"tab\there", "tab%09here.vcf"},
      {longUid, carddav::hashedName(longUid)},
  };
  for (const Row &row : rows) addThroughAView(Person(NS(row.uid), @"Someone"));
  std::set<std::string> listed;
  served().list([&](const carddav::CardInfo &info) { listed.insert(info.name); });
  EXPECT_EQ(4u, listed.size());
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_LE(row.name.size(), carddav::kMaxNameLength);
    std::string uid;
    EXPECT_EQ(row.uid.size() < 250, carddav::uidOfName(row.name, &uid) && uid == row.uid);
    carddav::CardInfo info;
    ASSERT_TRUE(served().find(row.name, &info));
    EXPECT_EQ(row.name, info.name);
    EXPECT_EQ(1u, listed.count(row.name));
    carddav::PutResult conflict =
        served().put("other.vcf", kxtest::Card(row.uid, "Someone Else"), carddav::Condition());
    EXPECT_EQ(carddav::PutResult::kUidConflict, conflict.outcome);
    EXPECT_EQ(row.name, conflict.otherName);
  }
  // A card sent to such a name with the record's UID updates the record.
  HttpResponse update = put("plain-uid.vcf", kxtest::Card("plain-uid", "Renamed", "N:;Renamed;;;\r\n"));
  EXPECT_EQ(204, update.status);
  KXRecord *record = [book_ recordForUniqueId:@"plain-uid"];
  EXPECT_EQ(std::string("Renamed"), [[record valueForProperty:KXFirstNameProperty] UTF8String]);
  // A name that looks like one of these but names no record is free.
  carddav::CardInfo info;
  EXPECT_FALSE(served().find("nobody-here.vcf", &info));
  EXPECT_FALSE(served().find(carddav::hashedName("nobody"), &info));

  // Removed, they are reported under the names they had.
  const std::string token = served().syncToken();
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  for (const Row &row : rows) ASSERT_TRUE([view removeRecord:[view recordForUniqueId:NS(row.uid)]]);
  ASSERT_TRUE([view save]);
  served().catchUp();
  std::set<std::string> removed;
  std::string next;
  ASSERT_TRUE(served().changesSince(
      token, [](const carddav::CardInfo &) {}, [&](const std::string &name) { removed.insert(name); },
      &next));
  for (const Row &row : rows) EXPECT_EQ(1u, removed.count(row.name)) << row.name;
}

// RFC 6352 5.3.4: a resource keeps its UID, and a UID belongs to one resource.
TEST_F(BookDav, UidConflicts) {
  addKnownCards();
  const struct {
    const char *what;
    std::string name;
    std::string card;
    std::string other;
  } rows[] = {
      {"another card's UID under a new name", "bob2.vcf", kxtest::Card("bob", "Bob Again"), kBob},
      {"another card's UID with urn:uuid:", "bob3.vcf", kxtest::Card("urn:uuid:bob", "Bob Again"), kBob},
      {"another UID over a card", kBobName, kxtest::Card("robert", "Robert"), kBob},
      {"another card's UID over a card", kBobName, aliceCard(), kAlice},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    HttpResponse answer = put(row.name, row.card);
    EXPECT_EQ(409, answer.status);
    EXPECT_EQ("", checkXml(answer.body, {"/d:error/c:no-uid-conflict/d:href='" + row.other + "'"}));
  }
  EXPECT_EQ(4u, [[book_ people] count] + [[book_ groups] count]);
  EXPECT_EQ(std::string("Bob"),
            [[[book_ recordForUniqueId:@"bob"] valueForProperty:KXFirstNameProperty] UTF8String]);
}

// Only a card the book stores exactly as sent gets an ETag in the PUT's answer: a card the book
// writes otherwise (its own order of properties, a UID it gave) must be read back first.
TEST_F(BookDav, AnETagOnlyForACardStoredAsSent) {
  HttpResponse normalised = put("carol.vcf", kxtest::Card("carol", "Carol", "N:;Carol;;;\r\n"));
  EXPECT_EQ(201, normalised.status);
  EXPECT_EQ("", normalised.header("etag"));
  HttpResponse get = rw("GET", cardPathOf("carol.vcf"));
  ASSERT_EQ(200, get.status);
  // Sent back unchanged it changes nothing, version included.
  HttpResponse same = put("carol.vcf", get.body, "If-Match: " + get.header("etag") + "\r\n");
  EXPECT_EQ(204, same.status);
  EXPECT_EQ(get.header("etag"), same.header("etag"));
  // Changed in the book's own form, it is stored as sent.
  std::string changed = get.body;
  changed.replace(changed.find("FN:Carol"), 8, "FN:Caroline");
  HttpResponse again = put("carol.vcf", changed, "If-Match: " + get.header("etag") + "\r\n");
  EXPECT_EQ(204, again.status);
  EXPECT_NE("", again.header("etag"));
  EXPECT_NE(get.header("etag"), again.header("etag"));
  EXPECT_EQ(again.header("etag"), rw("GET", cardPathOf("carol.vcf")).header("etag"));
  EXPECT_EQ(changed, rw("GET", cardPathOf("carol.vcf")).body);

  // A card without a UID gets one, and so no ETag either; sent again to the same name it
  // updates that card rather than making another.
  const std::string noUid = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dora\r\nN:;Dora;;;\r\nEND:VCARD\r\n";
  HttpResponse made = put("dora.vcf", noUid);
  EXPECT_EQ(201, made.status);
  EXPECT_EQ("", made.header("etag"));
  EXPECT_EQ(204, put("dora.vcf", noUid).status);
  EXPECT_EQ(2u, [[book_ people] count]);
  EXPECT_NE(std::string::npos, rw("GET", cardPathOf("dora.vcf")).body.find("\r\nUID:"));
}

TEST_F(BookDav, CardsTheBookRefuse) {
  const struct {
    const char *what;
    std::string card;
  } rows[] = {
      {"a person's card naming no one",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n"},
      {"not a vCard the reader takes",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:y\r\nFN:Y\r\nBEGIN:VCARD\r\nEND:VCARD\r\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    HttpResponse answer = put("refused.vcf", row.card);
    EXPECT_TRUE(answer.status == 403 || answer.status == 400) << answer.status;
    EXPECT_EQ("", checkXml(answer.body, {"/d:error/c:valid-address-data"}));
  }
  // A group card under a person's UID is refused too.
  addThroughAView(Person(@"ann", @"Ann"));
  HttpResponse kind =
      put("ann.vcf", kxtest::Card("ann", "Ann's Group", "X-ADDRESSBOOKSERVER-KIND:group\r\n"));
  EXPECT_EQ(403, kind.status);
  EXPECT_EQ(0u, [[book_ groups] count]);
}

// Group cards of either kind become groups of the book with their members, and groups made
// in the book are group cards in either version.
TEST_F(BookDav, GroupsBothWays) {
  addKnownCards();  // friends: an Apple group card with alice as member
  KXGroup *friends = (KXGroup *)[book_ recordForUniqueId:@"friends"];
  ASSERT_TRUE([friends isKindOfClass:[KXGroup class]]);
  ASSERT_EQ(1u, [[friends members] count]);
  EXPECT_EQ(std::string("alice"), [[[[friends members] objectAtIndex:0] uniqueId] UTF8String]);

  const std::string crew = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:crew\r\nFN:Crew\r\nKIND:group\r\n"
                           "MEMBER:urn:uuid:bob\r\nMEMBER:urn:uuid:alice\r\nEND:VCARD\r\n";
  ASSERT_EQ(201, put("crew.vcf", crew).status);
  KXGroup *group = (KXGroup *)[book_ recordForUniqueId:@"crew"];
  ASSERT_TRUE([group isKindOfClass:[KXGroup class]]);
  EXPECT_EQ(2u, [[group members] count]);

  KXGroup *team = [[[KXGroup alloc] initWithUniqueId:@"team"] autorelease];
  [team setValue:@"Team" forProperty:KXGroupNameProperty];
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  ASSERT_TRUE([view addRecord:team]);
  ASSERT_TRUE([team addMember:[view recordForUniqueId:@"bob"]]);
  ASSERT_TRUE([view save]);
  const std::string three = rw("GET", cardPathOf("team.vcf")).body;
  const std::string four = rw("GET", cardPathOf("team.vcf"), "Accept: text/vcard; version=4.0\r\n").body;
  EXPECT_NE(std::string::npos, three.find("X-ADDRESSBOOKSERVER-KIND:group\r\n")) << three;
  EXPECT_NE(std::string::npos, three.find("X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:bob\r\n")) << three;
  EXPECT_NE(std::string::npos, four.find("KIND:group\r\n")) << four;
  EXPECT_NE(std::string::npos, four.find("MEMBER:urn:uuid:bob\r\n")) << four;
}

// Every answer shows what was saved before it, by anyone: another process, a view of the
// same book (a Distributed Objects client's); and what CardDAV saves shows to both.
TEST_F(BookDav, SavesShowEveryWay) {
  addKnownCards();
  const std::string location = location_;
  ASSERT_TRUE(inAnotherProcess([location] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:NS(location)] autorelease];
    [[other recordForUniqueId:@"bob"] setValue:@"Robert" forProperty:KXFirstNameProperty];
    return [other save] == YES;
  }));
  HttpResponse bob = rw("GET", kBob);
  EXPECT_NE(std::string::npos, bob.body.find("N:Builder;Robert;;;")) << bob.body;
  EXPECT_EQ("\"5-3\"", bob.header("etag"));

  NSString *uid = addThroughAView(Person(@"vera", @"Vera"));
  EXPECT_EQ(200, rw("GET", cardPathOf("vera.vcf")).status);
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  ASSERT_TRUE([view removeRecord:[view recordForUniqueId:uid]]);
  ASSERT_TRUE([view save]);
  EXPECT_EQ(404, rw("GET", cardPathOf("vera.vcf")).status);

  // The other way: a CardDAV save shows to the next view and to another process.
  ASSERT_EQ(201, put("w-7.vcf", kxtest::Card("walt", "Walt", "N:;Walt;;;\r\n")).status);
  KXPublicAddressBook *next = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:YES] autorelease];
  EXPECT_TRUE([next recordForUniqueId:@"walt"] != nil);
  EXPECT_TRUE(inAnotherProcess([location] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:NS(location)] autorelease];
    return [other recordForUniqueId:@"walt"] != nil &&
           [[other uniqueIdForResourceName:@"w-7.vcf"] isEqual:@"walt"];
  }));
}

// A conditional write holds only over the version the client saw: a save by someone else in
// between makes it fail, unconditional ones merge.
TEST_F(BookDav, ConditionalWritesAndSomeoneElseInBetween) {
  addKnownCards();
  const std::string etag = rw("GET", kAlice).header("etag");
  const std::string location = location_;
  ASSERT_TRUE(inAnotherProcess([location] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:NS(location)] autorelease];
    [[other recordForUniqueId:@"alice"] setValue:@"Ally" forProperty:KXNicknameProperty];
    return [other save] == YES;
  }));
  const std::string changed = kxtest::Card("alice", "Alice Pleasance Liddell", "N:Liddell;Alice;;;\r\n");
  EXPECT_EQ(412, put(kAliceName, changed, "If-Match: " + etag + "\r\n").status);
  EXPECT_EQ(412, rw("DELETE", kAlice, "If-Match: " + etag + "\r\n").status);
  EXPECT_EQ(204, put(kAliceName, changed).status);
  const std::string now = rw("GET", kAlice).body;
  EXPECT_NE(std::string::npos, now.find("FN:Alice Pleasance Liddell")) << now;
  EXPECT_EQ(412, put("new.vcf", kxtest::Card("new", "New"), "If-Match: *\r\n").status);
  EXPECT_TRUE([book_ recordForUniqueId:@"new"] == nil);
}

// sync-collection over the book: every change once, whoever made it, removals by name (the
// client's own or the uid's), a person's removal changing its groups; and tokens of another
// book, of the future or of no form refused.
TEST_F(BookDav, SyncCollectionOverTheBook) {
  addKnownCards();
  const std::string token = syncToken();
  ASSERT_EQ(0u, token.find("http://kindex.invalid/sync/"));
  ASSERT_EQ(201, put("dora.vcf", kxtest::Card("dora", "Dora", "N:;Dora;;;\r\n")).status);
  ASSERT_EQ(204, rw("DELETE", kAlice).status);  // alice was in friends
  addThroughAView(Person(@"vic", @"Vic"));
  const std::string location = location_;
  ASSERT_TRUE(inAnotherProcess([location] {
    KXLocalAddressBook *other = [[[KXLocalAddressBook alloc] initWithLocation:NS(location)] autorelease];
    return [other removeRecord:[other recordForUniqueId:@"umlaut"]] && [other save];
  }));
  HttpResponse changes = syncSince(token);
  EXPECT_EQ(207, changes.status);
  EXPECT_EQ("", checkXml(changes.body,
                         {responses(5), found("/addressbooks/book/dora.vcf", "d:getetag"),
                          found("/addressbooks/book/vic.vcf", "d:getetag"), found(kGroup, "d:getetag"),
                          resp(kAlice) + "[d:status='HTTP/1.1 404 Not Found']",
                          resp(kUmlaut) + "[d:status='HTTP/1.1 404 Not Found']"}));
  const std::string next = xPathString(changes.body, "/d:multistatus/d:sync-token");
  EXPECT_EQ("", checkXml(syncSince(next).body, {responses(0)}));
  // A removed name a card takes again is that card's change.
  ASSERT_EQ(201, put(kAliceName, kxtest::Card("alice2", "Alice Again", "N:;Alice;;;\r\n")).status);
  EXPECT_EQ("", checkXml(syncSince(next).body, {responses(1), found(kAlice, "d:getetag")}));

  const std::string identity = token.substr(token.rfind('/') + 1, token.rfind('-') - token.rfind('/') - 1);
  const std::string prefix = "http://kindex.invalid/sync/";
  for (const std::string &bad : {prefix + identity + "-999999", prefix + "0123456789abcdef0123456789abcdef-1",
                                 prefix + identity, prefix + "m4", std::string("garbage")}) {
    SCOPED_TRACE(bad);
    HttpResponse refused = syncSince(bad);
    EXPECT_EQ(403, refused.status);
    EXPECT_EQ("", checkXml(refused.body, {"/d:error/d:valid-sync-token"}));
  }
  reopen("another");
  HttpResponse foreign = syncSince(next);
  EXPECT_EQ(403, foreign.status);
}

// While another program holds the book's write lock, writes are answered 503 (a client tries
// again) and change nothing; once it lets go, they go through.
TEST_F(BookDav, ABusyBookAsksClientsToTryAgain) {
  addKnownCards();
  [book_ _setBusyTimeout:50];
  sqlite3 *other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((location_ + "/book.sqlite").c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  HttpResponse putAnswer = put("dora.vcf", kxtest::Card("dora", "Dora", "N:;Dora;;;\r\n"));
  EXPECT_EQ(503, putAnswer.status);
  EXPECT_EQ("2", putAnswer.header("retry-after"));
  EXPECT_EQ(503, rw("DELETE", kBob).status);
  EXPECT_EQ(200, rw("GET", kBob).status);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(201, put("dora.vcf", kxtest::Card("dora", "Dora", "N:;Dora;;;\r\n")).status);
  EXPECT_EQ(204, rw("DELETE", kBob).status);
}

}  // namespace
}  // namespace davtest
