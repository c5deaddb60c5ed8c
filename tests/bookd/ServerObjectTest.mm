// The server object in-process, without the socket service: what it holds after creation,
// what it accepts as a password, that its teardown leaves the book usable, and how its budget
// of password checks treats the peers its grants come from.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#import "AddressBookServer.h"
#include "TempDir.h"

// Plays the Distributed Objects port: the peer of the request being handled is whatever the
// test says.
@interface ChosenPeer : NSObject
+ (void)setAddress:(NSString *)address;
+ (NSString *)currentPeerAddress;
@end

static NSString *chosenPeerAddress = nil;

@implementation ChosenPeer
+ (void)setAddress:(NSString *)address {
  [chosenPeerAddress release];
  chosenPeerAddress = [address copy];
}
+ (NSString *)currentPeerAddress {
  return chosenPeerAddress;
}
@end

namespace {

class ServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    pool_ = [NSAutoreleasePool new];
    book_ = [[KXLocalAddressBook alloc] initWithLocation:[NSString stringWithUTF8String:tmp_.path().c_str()]];
    ASSERT_NE(book_, nil);
  }
  void TearDown() override {
    [book_ release];
    [pool_ release];
  }

  NSAutoreleasePool *pool_ = nil;
  kxtest::TempDir tmp_{"bookd-server"};
  KXLocalAddressBook *book_ = nil;
};

TEST_F(ServerObject, WithoutSocketServiceServesBothOperations) {
  NSMutableString *ro = [NSMutableString stringWithString:@"read"];
  AddressBookServer *server = [[AddressBookServer alloc] initWithAddressBook:book_
                                                            readOnlyPassword:ro
                                                           readWritePassword:@"write"
                                                          socketServerAtPort:-1];
  // The server keeps its own copy: changing the caller's string changes nothing.
  [ro setString:@"changed"];
  EXPECT_NE([server addressBookForReadOnlyAccessWithAuth:@"read"], nil);
  EXPECT_EQ([server addressBookForReadOnlyAccessWithAuth:@"changed"], nil);

  KXAddressBook *first = [server addressBookForReadWriteAccessWithAuth:@"write"];
  KXAddressBook *second =
      [server addressBookForReadWriteAccessWithAuth:[NSMutableString stringWithString:@"write"]];
  ASSERT_NE(first, nil);
  ASSERT_NE(second, nil);
  EXPECT_NE(first, second);
  EXPECT_FALSE([(KXPublicAddressBook *)first isReadOnly]);

  // Objects that are not strings never match, even when they print as the password.
  EXPECT_EQ([server addressBookForReadWriteAccessWithAuth:[@"write" dataUsingEncoding:NSUTF8StringEncoding]],
            nil);
  EXPECT_EQ([server addressBookForReadWriteAccessWithAuth:[NSArray arrayWithObject:@"write"]], nil);

  // Views outlive the server; the book is still there for them and for its opener.
  [server release];
  [pool_ release];
  pool_ = [NSAutoreleasePool new];
  KXPerson *person = [[[KXPerson alloc] init] autorelease];
  EXPECT_TRUE([book_ addRecord:person]);
  EXPECT_EQ([[book_ people] count], 1u);
}

TEST_F(ServerObject, PasswordsWithNonAsciiAndNulCompareExactly) {
  NSString *umlaut = [NSString stringWithUTF8String:"gr\xC3\xBC\xC3\x9F"];
  unichar withNul[] = {'a', 0, 'b'};
  NSString *nul = [NSString stringWithCharacters:withNul length:3];
  AddressBookServer *server = [[[AddressBookServer alloc] initWithAddressBook:book_
                                                             readOnlyPassword:umlaut
                                                            readWritePassword:nul
                                                           socketServerAtPort:-1] autorelease];
  EXPECT_NE(
      [server addressBookForReadOnlyAccessWithAuth:[NSString stringWithUTF8String:"gr\xC3\xBC\xC3\x9F"]],
      nil);
  EXPECT_EQ(
      [server addressBookForReadOnlyAccessWithAuth:[NSString stringWithUTF8String:"GR\xC3\x9C\xC3\x9F"]],
      nil);
  EXPECT_NE([server addressBookForReadWriteAccessWithAuth:[NSString stringWithCharacters:withNul length:3]],
            nil);
  // A comparison that stopped at the NUL would let "a" in.
  EXPECT_EQ([server addressBookForReadWriteAccessWithAuth:@"a"], nil);
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

TEST_F(ServerObject, GuessingIsBoundedPerPeerAddress) {
  AddressBookServer *server = [[[AddressBookServer alloc] initWithAddressBook:book_
                                                             readOnlyPassword:@"read"
                                                            readWritePassword:@"write"
                                                           socketServerAtPort:-1] autorelease];
  [server setPeerAddressSource:[ChosenPeer class]];
  testing::internal::CaptureStderr();
  [ChosenPeer setAddress:@"192.0.2.1"];
  // Knowing one password buys no guesses at the other.
  for (int i = 0; i < 20; i++) {
    ASSERT_NE([server addressBookForReadOnlyAccessWithAuth:@"read"], nil) << i;
    NSString *guess = [NSString stringWithFormat:@"guess%d", i];
    ASSERT_EQ([server addressBookForReadWriteAccessWithAuth:guess], nil);
  }
  // Over budget even the right passwords get a wrong one's answer, for either operation...
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ([server addressBookForReadOnlyAccessWithAuth:@"read"], nil);
    EXPECT_EQ([server addressBookForReadWriteAccessWithAuth:@"write"], nil);
  }
  // ...while any other address is served as before, the unknown one included.
  [ChosenPeer setAddress:@"192.0.2.2"];
  EXPECT_NE([server addressBookForReadWriteAccessWithAuth:@"write"], nil);
  EXPECT_EQ([server addressBookForReadWriteAccessWithAuth:@"wrong"], nil);
  [ChosenPeer setAddress:nil];
  EXPECT_NE([server addressBookForReadOnlyAccessWithAuth:@"read"], nil);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ(1u, Count(logged, "Too many wrong passwords")) << logged;
  EXPECT_EQ(1u, Count(logged, "from 192.0.2.1 on the Distributed Objects service")) << logged;
  [ChosenPeer setAddress:nil];
}

}  // namespace
