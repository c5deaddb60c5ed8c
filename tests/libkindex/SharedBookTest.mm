// The user's shared book lives in GNUstep's user Library directory (here a temporary one,
// see main.mm), is created on first use, and is one object per process.
#include "BookTest.h"
#include "ForkedBody.h"

extern std::string kindexTestLibrary;

class SharedBookTest : public BookTest {};

TEST_F(SharedBookTest, OneBookPerUserCreatedOnFirstUse) {
  ASSERT_EQ(kindexTestLibrary + "/Kindex/AddressBook", S([KXLocalAddressBook sharedAddressBookLocation]))
      << "GNUstep is not pointed at the test's home: the real user's book would be used";
  KXAddressBook *shared = [KXAddressBook sharedAddressBook];
  ASSERT_TRUE(shared != nil);
  EXPECT_TRUE(shared == [KXAddressBook sharedAddressBook]);
  EXPECT_TRUE(shared == [KXLocalAddressBook sharedAddressBook]);
  ASSERT_TRUE([shared isKindOfClass:[KXLocalAddressBook class]]);
  NSString *location = [(KXLocalAddressBook *)shared location];
  EXPECT_EQ(kindexTestLibrary + "/Kindex/AddressBook", S(location));

  KXPerson *p = person(@"Shared", nil, nil);
  ASSERT_TRUE([shared addRecord:p]);
  ASSERT_TRUE([shared save]);
  // Another process of the same user finds the same book.
  std::string uid = S([p uniqueId]);
  pid_t child = spawn([&] {
    KXAddressBook *again = [KXAddressBook sharedAddressBook];
    return [again recordForUniqueId:[NSString stringWithUTF8String:uid.c_str()]] != nil;
  });
  EXPECT_EQ(0, waitStatus(child));
}
