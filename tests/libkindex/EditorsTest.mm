// Two editors of one book, interleaved: P and Q each change something, P saves, then Q saves.
// Whatever the editors are (two processes, two views of one book in a process, two remote
// clients of one server), nothing one of them saved is undone by the other's save unless the
// other changed it too: changes merge by property, multi-values by entry, groups by member;
// where both changed the same thing the later save wins; a removal stays. Q's save says what
// it merged over and what it dropped.
#include "BookTest.h"

#include <poll.h>

#import "ServedBook.h"

namespace {

// The uids of the fixture's book: persons X, Y and Z, group G holding X and Y.
struct Ids {
  NSString *x, *y, *z, *g;
  const char *nameOf(NSString *uid) const {
    return [uid isEqual:x]   ? "X"
           : [uid isEqual:y] ? "Y"
           : [uid isEqual:z] ? "Z"
           : [uid isEqual:g] ? "G"
                             : "?";
  }
};

using Edit = void (*)(KXAddressBook *book, const Ids &ids);

struct Row {
  const char *what;
  Edit p, q;
  const char *stored;   // the book after both saves (see describe)
  const char *qReport;  // what Q's save reported (see reportText)
};

KXPerson *personOf(KXAddressBook *book, NSString *uid) {
  return (KXPerson *)[book recordForUniqueId:uid];
}

void set(KXAddressBook *book, NSString *uid, NSString *property, NSString *value) {
  [personOf(book, uid) setValue:value forProperty:property];
}

void addMail(KXAddressBook *book, NSString *uid, NSString *mail) {
  KXPerson *p = personOf(book, uid);
  KXMutableMultiValue *mails = [[[p valueForProperty:KXEmailProperty] mutableCopy] autorelease];
  [mails addValue:mail withLabel:KXEmailHomeLabel];
  [p setValue:mails forProperty:KXEmailProperty];
}

void changeMember(KXAddressBook *book, NSString *groupId, NSString *memberId, bool add) {
  KXGroup *g = (KXGroup *)[book recordForUniqueId:groupId];
  KXRecord *member = [book recordForUniqueId:memberId];
  if (add) {
    [g addMember:member];
  } else {
    [g removeMember:member];
  }
}

// "X=first/last/organization/mails G=members" for what the book holds; "X=gone" when X is.
std::string describe(KXAddressBook *book, const Ids &ids) {
  KXPerson *x = personOf(book, ids.x);
  std::string text = "X=";
  if (x == nil) {
    text += "gone";
  } else {
    KXMultiValue *mails = [x valueForProperty:KXEmailProperty];
    text += S([x valueForProperty:KXFirstNameProperty]) + "/" + S([x valueForProperty:KXLastNameProperty]) +
            "/" + S([x valueForProperty:KXOrganizationProperty]) + "/";
    for (NSUInteger i = 0; i < [mails count]; i++) text += (i ? "," : "") + S([mails valueAtIndex:i]);
  }
  text += " G=";
  NSArray *members = [(KXGroup *)[book recordForUniqueId:ids.g] members];
  for (NSUInteger i = 0; i < [members count]; i++) text += ids.nameOf([[members objectAtIndex:i] uniqueId]);
  return text;
}

// "merged X G; dropped X" from a save's conflicts; "-" for none.
std::string reportText(NSError *conflicts, const Ids &ids) {
  if (conflicts == nil) return "-";
  std::string text;
  const char *names[] = {"merged", "dropped"};
  NSString *keys[] = {KXMergedRecordIdsKey, KXDroppedRecordIdsKey};
  for (int k = 0; k < 2; k++) {
    NSArray *list = [[conflicts userInfo] objectForKey:keys[k]];
    if ([list count] == 0) continue;
    text += std::string(text.empty() ? "" : "; ") + names[k];
    for (NSUInteger i = 0; i < [list count]; i++)
      text += std::string(" ") + ids.nameOf([list objectAtIndex:i]);
  }
  return text;
}

std::string saveText(KXAddressBook *book, const Ids &ids) {
  NSError *conflicts = nil, *error = nil;
  if (![book saveReturningConflicts:&conflicts error:&error])
    return "failed: " + S([error localizedDescription]);
  return reportText(conflicts, ids);
}

// clang-format off
const Row kRows[] = {
  {"different properties of one record: both kept",
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXFirstNameProperty, @"Anna"); },
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXOrganizationProperty, @"Q Ltd"); },
   "X=Anna/Lee/Q Ltd/ann@x G=XY", "merged X"},
  {"the same property: the later save wins",
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXLastNameProperty, @"P"); },
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXLastNameProperty, @"Q"); },
   "X=Ann/Q/(nil)/ann@x G=XY", "merged X"},
  {"two e-mail addresses added: both kept",
   [](KXAddressBook *b, const Ids &i) { addMail(b, i.x, @"p@x"); },
   [](KXAddressBook *b, const Ids &i) { addMail(b, i.x, @"q@x"); },
   "X=Ann/Lee/(nil)/ann@x,p@x,q@x G=XY", "merged X"},
  {"members added and removed by each: both applied",
   [](KXAddressBook *b, const Ids &i) { changeMember(b, i.g, i.z, true); },
   [](KXAddressBook *b, const Ids &i) { changeMember(b, i.g, i.y, false); },
   "X=Ann/Lee/(nil)/ann@x G=XZ", "merged G"},
  {"an edit against a removal: removed, the edit dropped",
   [](KXAddressBook *b, const Ids &i) { [b removeRecord:[b recordForUniqueId:i.x]]; },
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXFirstNameProperty, @"Anna"); },
   "X=gone G=Y", "dropped X"},
  {"a removal against an edit: removed",
   [](KXAddressBook *b, const Ids &i) { set(b, i.x, KXFirstNameProperty, @"Anna"); },
   [](KXAddressBook *b, const Ids &i) { [b removeRecord:[b recordForUniqueId:i.x]]; },
   "X=gone G=Y", "-"},
};
// clang-format on

}  // namespace

class EditorsTest : public BookTest {
 protected:
  // A fresh book for each row: X (Ann Lee, ann@x), Y, Z, and G holding X and Y.
  NSString *makeBook(const std::string &name) {
    NSString *location = dir(name);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    KXLocalAddressBook *book = open(location);
    KXPerson *x = person(@"Ann", @"Lee", @"ann@x"), *y = person(@"Bob", nil, nil),
             *z = person(@"Cid", nil, nil);
    KXGroup *g = group(@"G");
    NSArray *all = [NSArray arrayWithObjects:x, y, z, g, nil];
    for (NSUInteger i = 0; i < [all count]; i++) [book addRecord:[all objectAtIndex:i]];
    [g addMember:x];
    [g addMember:y];
    EXPECT_TRUE([book save]);
    ids_ = Ids{[[x uniqueId] retain], [[y uniqueId] retain], [[z uniqueId] retain], [[g uniqueId] retain]};
    [pool release];
    return location;
  }
  void TearDown() override {
    [ids_.x release];
    [ids_.y release];
    [ids_.z release];
    [ids_.g release];
    BookTest::TearDown();
  }
  void forget() {
    TearDown();
    ids_ = Ids{};
    SetUp();
  }
  // P edits, Q edits, P saves, Q saves: editors that live in this process.
  void run(const Row &row, KXAddressBook *p, KXAddressBook *q, NSString *location) {
    row.p(p, ids_);
    row.q(q, ids_);
    EXPECT_EQ("-", saveText(p, ids_)) << "P saved first";
    EXPECT_EQ(row.qReport, saveText(q, ids_));
    EXPECT_EQ(row.stored, stored(location));
  }

  std::string stored(NSString *location) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    std::string text = describe(open(location), ids_);
    [pool release];
    return text;
  }

  Ids ids_{};
};

// Q is another process with the book open, told through a pipe when to edit and when to save.
TEST_F(EditorsTest, TwoProcesses) {
  for (size_t r = 0; r < sizeof kRows / sizeof kRows[0]; r++) {
    const Row &row = kRows[r];
    SCOPED_TRACE(row.what);
    NSString *location = makeBook("processes" + std::to_string(r));
    KXLocalAddressBook *p = open(location);
    int toQ[2], fromQ[2];
    ASSERT_EQ(0, pipe(toQ));
    ASSERT_EQ(0, pipe(fromQ));
    pid_t q = spawn([&] {
      close(toQ[1]);  // or the reads below would never see the end
      KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
      char command = 0;
      while (read(toQ[0], &command, 1) == 1) {
        char reply[256] = "";
        if (command == 'e') {
          row.q(book, ids_);
        } else {
          std::snprintf(reply, sizeof reply, "%s", saveText(book, ids_).c_str());
        }
        if (write(fromQ[1], reply, sizeof reply) != sizeof reply) return false;
      }
      return true;
    });
    auto tellQ = [&](char command) {
      char reply[256] = "(no answer)";
      pollfd ready{fromQ[0], POLLIN, 0};
      if (write(toQ[1], &command, 1) != 1 || poll(&ready, 1, 30000) != 1 ||
          read(fromQ[0], reply, sizeof reply) != sizeof reply) {
        ADD_FAILURE() << "Q did not answer";
      }
      return std::string(reply);
    };

    row.p(p, ids_);
    tellQ('e');
    EXPECT_EQ("-", saveText(p, ids_)) << "P saved first";
    EXPECT_EQ(row.qReport, tellQ('s'));
    close(toQ[1]);
    EXPECT_EQ(0, waitStatus(q));
    close(toQ[0]);
    close(fromQ[0]);
    close(fromQ[1]);
    EXPECT_EQ(row.stored, stored(location));
    forget();
  }
}

TEST_F(EditorsTest, TwoViewsOfOneBook) {
  for (size_t r = 0; r < sizeof kRows / sizeof kRows[0]; r++) {
    SCOPED_TRACE(kRows[r].what);
    NSString *location = makeBook("views" + std::to_string(r));
    KXLocalAddressBook *book = open(location);
    run(kRows[r], [[[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:NO] autorelease],
        [[[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:NO] autorelease], location);
    forget();
  }
}

TEST_F(EditorsTest, TwoClientsOfOneServer) {
  for (size_t r = 0; r < sizeof kRows / sizeof kRows[0]; r++) {
    SCOPED_TRACE(kRows[r].what);
    NSString *location = makeBook("served" + std::to_string(r));
    {
      ServedBook served(location);
      ASSERT_GT(served.port(), 0);
      KXPublicAddressBook *p = served.view(NO), *q = served.view(NO);
      ASSERT_TRUE(p != nil && q != nil);
      run(kRows[r], p, q, location);
    }
    forget();
  }
}

// An editor that read a record before another saved it, and changes it afterwards, changes
// only what it changed: the merge takes what the editor's own copy held as what it saw.
TEST_F(EditorsTest, AnEditorsOldCopyUndoesNothingOthersSaved) {
  auto run = [&](KXAddressBook *p, KXAddressBook *q, NSString *location) {
    KXPerson *old = personOf(q, ids_.x);
    addMail(p, ids_.x, @"p@x");
    set(p, ids_.x, KXLastNameProperty, @"Saved");
    ASSERT_TRUE([p save]);
    KXMutableMultiValue *mails = [[[old valueForProperty:KXEmailProperty] mutableCopy] autorelease];
    [mails addValue:@"q@x" withLabel:KXEmailHomeLabel];
    ASSERT_TRUE([old setValue:mails forProperty:KXEmailProperty]);
    ASSERT_TRUE([old setValue:@"Q" forProperty:KXFirstNameProperty]);
    ASSERT_TRUE([q save]);
    EXPECT_EQ("X=Q/Saved/(nil)/ann@x,p@x,q@x G=XY", stored(location));
  };
  {
    SCOPED_TRACE("views of one book");
    NSString *location = makeBook("old-views");
    KXLocalAddressBook *book = open(location);
    run([[[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:NO] autorelease],
        [[[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:NO] autorelease], location);
    forget();
  }
  {
    SCOPED_TRACE("clients of one server");
    NSString *location = makeBook("old-served");
    ServedBook served(location);
    run(served.view(NO), served.view(NO), location);
  }
}
