// The order in which a conversion hands records to its book: a group arrives named and
// without members, a person with its names and e-mail, each record once, and the book is
// saved once, after everything. The stored result alone would not show a second save half-way
// or a record added before it was filled in, so the book here notes every call it gets.
#include <gtest/gtest.h>
#import <Kindex/Kindex.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#import "ArchiveReader.h"
#import "Conversion.h"
#include "ConvertFixture.h"

@interface RecordingBook : KXLocalAddressBook {
 @public
  std::vector<std::string> *calls;
}
@end

namespace {

std::string textOf(id value) {
  return value == nil ? "~" : [[value description] UTF8String];
}

std::string Describe(KXRecord *record) {
  if ([record isKindOfClass:[KXGroup class]])
    return "G " + textOf([record valueForProperty:KXGroupNameProperty]) + " with " +
           std::to_string([[(KXGroup *)record members] count]) + " members";
  KXMultiValue *emails = [record valueForProperty:KXEmailProperty];
  return "P " + textOf([record valueForProperty:KXFirstNameProperty]) + " / " +
         textOf([record valueForProperty:KXLastNameProperty]) + " <" +
         ([emails count] > 0 ? textOf([emails valueAtIndex:0]) : "~") + ">";
}

}  // namespace

@implementation RecordingBook
- (BOOL)addRecord:(KXRecord *)record {
  calls->push_back("add " + Describe(record));
  return [super addRecord:record];
}

// Every form of saving comes here.
- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  calls->push_back("save");
  return [super saveReturningConflicts:conflicts error:error];
}
@end

namespace convert_test {
namespace {

struct OrderCase {
  const char *title;
  const char *description;  // see the generator's BookDescription.h
  std::vector<std::string> calls;
  std::vector<std::string> book;  // see BookDump.h
};

std::ostream &operator<<(std::ostream &out, const OrderCase &c) {
  return out << c.title;
}

// clang-format off
const OrderCase orderCases[] = {
    {"a book with a nested group and a skipped element",
     R"({ groups = (
        { name = Outer; entries = (
            { name = "Alpha Beta"; email = "a@example.org"; },
            { class = Group; name = Inner; entries = ( { name = "Gamma Delta"; email = "g@example.org"; } ); },
            { class = String; value = x; } ); },
        { class = Address; name = "Loner"; email = "l@example.org"; } ); })",
     {"add G Outer with 0 members", "add P Alpha / Beta <a@example.org>", "add G Inner with 0 members",
      "add P Gamma / Delta <g@example.org>", "add P ~ / Loner <l@example.org>", "save"},
     {"G Inner [Gamma / Delta]", "G Outer [Alpha / Beta, G Inner]", "P Alpha / Beta <work:a@example.org>",
      "P Gamma / Delta <work:g@example.org>", "P ~ / Loner <work:l@example.org>"}},
    {"a group as the root",
     R"({ class = Group; name = Solo; entries = ( { name = "Alpha Beta"; email = "a@example.org"; } ); })",
     {"add G Solo with 0 members", "add P Alpha / Beta <a@example.org>", "save"},
     {"G Solo [Alpha / Beta]", "P Alpha / Beta <work:a@example.org>"}},
};
// clang-format on

class ConversionOrder : public ConvertFixture, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(ConversionOrder, RecordsArriveFilledInAndTheBookIsSavedOnceAtTheEnd) {
  const OrderCase &c = GetParam();
  std::string path = archive(c.description);
  std::string location = scratch() + "/book";
  ASSERT_EQ(mkdir(location.c_str(), 0700), 0);

  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  std::vector<std::string> calls;
  RecordingBook *book =
      [[RecordingBook alloc] initWithLocation:[NSString stringWithUTF8String:location.c_str()]];
  ASSERT_TRUE(book != nil);
  book->calls = &calls;
  std::string error;
  id root = readArchivedBook(path.c_str(), &error);
  ASSERT_TRUE(root != nil) << error;
  {
    Conversion conversion(book);
    conversion.convertRoot(root);
    EXPECT_FALSE(conversion.saveFailed());
  }
  [book release];
  [pool release];

  EXPECT_EQ(calls, c.calls);
  EXPECT_EQ(dumpBook(location), c.book);
}

INSTANTIATE_TEST_SUITE_P(Roots, ConversionOrder, ::testing::ValuesIn(orderCases));

}  // namespace
}  // namespace convert_test
