// Views cross a real Distributed Objects connection on loopback: a child process serves a
// book as bookd does, and this process, as a client, opens views with the library's one call,
// lists, edits, adds and saves through one and is refused through the other - also when it
// bypasses the view and talks to the server side directly. Listing takes a fixed number of
// round trips, and a view that cannot be had says why.
#include "BookTest.h"
#import "views/KXViewServing.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LoopbackConnection.h"
#include "LoopbackPort.h"

static NSString *const kLooker = @"looker";
static NSString *const kChanger = @"changer";

@protocol KXTestVendor
/* How an object sent by the client arrived: "proxy", or its class and content. */
- (NSString *)arrivalOf:(id)object;
@end

@interface KXTestVendor : NSObject <KXSimpleAddressBookServing, KXTestVendor> {
  KXAddressBook *_book;
}
- (id)initWithBook:(KXAddressBook *)book;
@end

@implementation KXTestVendor
- (id)initWithBook:(KXAddressBook *)book {
  if ((self = [super init]) != nil) _book = [book retain];
  return self;
}
- (void)dealloc {
  [_book release];
  [super dealloc];
}
- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth {
  if (![kLooker isEqual:auth]) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:YES] autorelease];
}
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth {
  if (![kChanger isEqual:auth]) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:NO] autorelease];
}
- (NSString *)arrivalOf:(id)object {
  if ([object isProxy]) return @"proxy";
  if ([object isKindOfClass:[KXMultiValue class]]) {
    return [NSString stringWithFormat:@"%@ %@", NSStringFromClass([object class]), [object valueAtIndex:0]];
  }
  KXMultiValue *mails = [object valueForProperty:KXEmailProperty];
  return [NSString stringWithFormat:@"%@ %@ %@ %@", NSStringFromClass([object class]), [object uniqueId],
                                    [object valueForProperty:KXFirstNameProperty], [mails valueAtIndex:0]];
}
@end

@interface KXPublicAddressBook (CrossingTest)
- (id)endpointForTest;
@end

@implementation KXPublicAddressBook (CrossingTest)
- (id)endpointForTest {
  return _remote;
}
@end

class CrossingTest : public BookTest {
 protected:
  static const int kPeople = 1000;

  void SetUp() override {
    BookTest::SetUp();
    location_ = [dir("served") retain];
    KXLocalAddressBook *book = open(location_);
    ASSERT_TRUE(book != nil);
    for (int i = 0; i < kPeople; i++) {
      ASSERT_TRUE([book addRecord:person([NSString stringWithFormat:@"First%d", i], @"Läst",
                                         [NSString stringWithFormat:@"p%d@example.org", i])]);
    }
    KXGroup *g = group(@"Everyone");
    [book addRecord:g];
    [g addMember:[[book people] objectAtIndex:0]];
    [g addMember:[[book people] objectAtIndex:1]];
    ASSERT_TRUE([book save]);
    startServer();
    ASSERT_GT(port_, 0);
  }

  void TearDown() override {
    [connection_ invalidate];
    [connection_ release];
    if (server_ > 0) {
      kill(server_, SIGKILL);
      waitpid(server_, nullptr, 0);
    }
    [location_ release];
    BookTest::TearDown();
  }

  // The child opens the book itself, vends on a port the kernel picks, reports the port
  // number through a pipe and serves for at most a minute.
  void startServer() {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    server_ = fork();
    if (server_ == 0) {
      close(fds[0]);
      NSAutoreleasePool *pool = [NSAutoreleasePool new];
      KXLocalAddressBook *book = [[KXLocalAddressBook alloc] initWithLocation:location_];
      NSSocketPort *port = [NSSocketPort portWithNumber:0 onHost:nil forceAddress:@"127.0.0.1" listener:YES];
      NSConnection *served = [[NSConnection alloc] initWithReceivePort:port sendPort:nil];
      [served setRootObject:[[[KXTestVendor alloc] initWithBook:book] autorelease]];
      int number = book != nil ? [port portNumber] : 0;
      if (write(fds[1], &number, sizeof number) != sizeof number) _exit(1);
      close(fds[1]);
      [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:60]];
      [pool release];
      _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    close(fds[0]);
  }

  // A view through the library's call, as any client opens one.
  KXAddressBook *view(BOOL readOnly) {
    NSError *error = nil;
    KXAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                                             port:port_
                                                         readOnly:readOnly
                                                         password:readOnly ? kLooker : kChanger
                                                          timeout:20
                                                            error:&error];
    if (view == nil) ADD_FAILURE() << "no view: " << S([error localizedDescription]);
    return view;
  }

  static unsigned requestsSent(KXAddressBook *view) {
    NSConnection *connection = [[(KXPublicAddressBook *)view endpointForTest] connectionForProxy];
    return [[[connection statistics] objectForKey:NSConnectionRequestsSent] unsignedIntValue];
  }

  // The server's root object over a connection of the test's own, for sending it objects that
  // no view would send.
  id rootObject() {
    connection_ = [kxtest::loopbackConnection(port_, 20) retain];
    id vendor = nil;
    @try {
      vendor = [connection_ rootProxy];
      [vendor setProtocolForProxy:@protocol(KXTestVendor)];
    } @catch (id) {
      vendor = nil;
    }
    return vendor;
  }

  NSString *location_ = nil;
  pid_t server_ = 0;
  int port_ = 0;
  NSConnection *connection_ = nil;
};

TEST_F(CrossingTest, AViewArrivesByCopyAndListsInAFixedNumberOfRoundTrips) {
  KXAddressBook *ro = view(YES);
  ASSERT_TRUE(ro != nil);
  EXPECT_FALSE([ro isProxy]);
  ASSERT_TRUE([ro isKindOfClass:[KXPublicAddressBook class]]);
  EXPECT_TRUE([(KXPublicAddressBook *)ro isReadOnly]);

  unsigned before = requestsSent(ro);
  NSArray *people = [ro people];
  ASSERT_EQ(static_cast<NSUInteger>(kPeople), [people count]);
  std::set<std::string> mails;
  for (NSUInteger i = 0; i < [people count]; i++) {
    KXRecord *p = [people objectAtIndex:i];
    EXPECT_EQ(S(@"Läst"), S([p valueForProperty:KXLastNameProperty]));
    mails.insert(S([[p valueForProperty:KXEmailProperty] valueAtIndex:0]));
  }
  EXPECT_EQ(static_cast<size_t>(kPeople), mails.size());
  EXPECT_LE(requestsSent(ro) - before, 2u) << "listing went record by record";

  KXGroup *g = [[ro groups] objectAtIndex:0];
  EXPECT_EQ(2u, [[g members] count]);
  KXPerson *first = [[g members] objectAtIndex:0];
  EXPECT_EQ(1u, [[first parentGroups] count]);
  EXPECT_EQ(S([first uniqueId]), S([[ro recordForUniqueId:[first uniqueId]] uniqueId]));
}

TEST_F(CrossingTest, AReadOnlyViewRefusesEveryChangeWhateverTheClientSends) {
  KXAddressBook *ro = view(YES);
  KXPerson *p = [[ro people] objectAtIndex:0];
  KXGroup *g = [[ro groups] objectAtIndex:0];
  EXPECT_FALSE([p setValue:@"Changed" forProperty:KXFirstNameProperty]);
  EXPECT_FALSE([ro addRecord:person(@"New", nil, nil)]);
  EXPECT_FALSE([ro removeRecord:p]);
  EXPECT_FALSE([g removeMember:[[g members] objectAtIndex:0]]);
  EXPECT_FALSE([ro save]);

  // A client that goes around its view and sends to the server side directly.
  id endpoint = [(KXPublicAddressBook *)ro endpointForTest];
  ASSERT_TRUE(endpoint != nil);
  NSData *value = [NSData dataWithBytes:"\x01\x07"
                                        "Changed"
                                 length:9];
  EXPECT_FALSE([endpoint setValueData:value forProperty:KXFirstNameProperty ofRecordWithId:[p uniqueId]]);
  EXPECT_FALSE([endpoint removeRecordWithId:[p uniqueId]]);
  EXPECT_FALSE([endpoint removeMemberWithId:[[[g members] objectAtIndex:0] uniqueId]
                            fromGroupWithId:[g uniqueId]]);
  EXPECT_FALSE([endpoint save]);
  bool refused = false;
  @try {
    [endpoint valueForKey:@"_book"];
  } @catch (id e) {
    refused = true;
  }
  EXPECT_TRUE(refused) << "the server side answered key-value coding";
  refused = false;
  @try {
    [endpoint performSelector:@selector(setValue:forKey:) withObject:nil withObject:@"_readOnly"];
  } @catch (id e) {
    refused = true;
  }
  EXPECT_TRUE(refused) << "the server side answered performSelector:";

  KXLocalAddressBook *stored = open(location_);
  EXPECT_EQ(static_cast<NSUInteger>(kPeople), [[stored people] count]);
  EXPECT_EQ(S([p valueForProperty:KXFirstNameProperty]),
            S([[stored recordForUniqueId:[p uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_FALSE([ro hasUnsavedChanges]);
}

TEST_F(CrossingTest, AReadWriteViewEditsAddsAndSavesTheServersBook) {
  KXAddressBook *rw = view(NO);
  EXPECT_FALSE([(KXPublicAddressBook *)rw isReadOnly]);
  NSArray *people = [rw people];
  KXPerson *p = [people objectAtIndex:5];
  KXPerson *gone = [people objectAtIndex:6];
  ASSERT_TRUE([p setValue:@"Renamed" forProperty:KXFirstNameProperty]);
  EXPECT_EQ(S(@"Renamed"), S([p valueForProperty:KXFirstNameProperty]));
  KXMutableMultiValue *mails = [[[p valueForProperty:KXEmailProperty] mutableCopy] autorelease];
  [mails addValue:@"zweite@example.org" withLabel:KXEmailHomeLabel];
  ASSERT_TRUE([p setValue:mails forProperty:KXEmailProperty]);
  EXPECT_FALSE([p setValue:[NSNumber numberWithInt:1] forProperty:KXFirstNameProperty]);

  KXPerson *added = person(@"Added", @"Über", @"added@example.org");
  ASSERT_TRUE([rw addRecord:added]);
  ASSERT_TRUE([added setValue:@"Later" forProperty:KXNoteProperty]);
  KXGroup *g = [[rw groups] objectAtIndex:0];
  ASSERT_TRUE([g addMember:added]);
  ASSERT_TRUE([rw removeRecord:gone]);
  EXPECT_TRUE([rw hasUnsavedChanges]);
  ASSERT_TRUE([rw save]);
  EXPECT_FALSE([rw hasUnsavedChanges]);

  KXLocalAddressBook *stored = open(location_);
  EXPECT_EQ(static_cast<NSUInteger>(kPeople), [[stored people] count]);
  KXRecord *renamed = [stored recordForUniqueId:[p uniqueId]];
  EXPECT_EQ(S(@"Renamed"), S([renamed valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(2u, [[renamed valueForProperty:KXEmailProperty] count]);
  KXRecord *back = [stored recordForUniqueId:[added uniqueId]];
  EXPECT_EQ(S(@"Über"), S([back valueForProperty:KXLastNameProperty]));
  EXPECT_EQ(S(@"Later"), S([back valueForProperty:KXNoteProperty]));
  EXPECT_TRUE([stored recordForUniqueId:[gone uniqueId]] == nil);
  EXPECT_EQ(3u, [[(KXGroup *)[stored recordForUniqueId:[g uniqueId]] members] count]);
}

TEST_F(CrossingTest, RecordsAndMultiValuesCrossByCopy) {
  id root = rootObject();
  ASSERT_TRUE(root != nil);
  KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] init] autorelease];
  [mails addValue:@"x@example.org" withLabel:KXEmailWorkLabel];
  KXPerson *p = person(@"Copy", nil, nil);
  [p setValue:mails forProperty:KXEmailProperty];
  EXPECT_EQ("KXPerson " + S([p uniqueId]) + " Copy x@example.org", S([root arrivalOf:p]));
  EXPECT_EQ("KXMultiValue x@example.org", S([root arrivalOf:[p valueForProperty:KXEmailProperty]]));
  EXPECT_EQ("KXMutableMultiValue x@example.org", S([root arrivalOf:mails]));
  // The same record archived and read back, as a program that stores records would.
  KXPerson *back = [NSUnarchiver unarchiveObjectWithData:[NSArchiver archivedDataWithRootObject:p]];
  EXPECT_EQ(S([p uniqueId]), S([back uniqueId]));
  EXPECT_TRUE([[back valueForProperty:KXEmailProperty] isEqual:[p valueForProperty:KXEmailProperty]]);
}

// Each way of failing to get a view has its own code and a line fit to show a user; nothing a
// user can type as a host crashes the client (GNUstep's socket ports, given an IPv6 address,
// overwrite memory of their own).
TEST_F(CrossingTest, AViewThatCannotBeHadSaysWhy) {
  // Accepts connections (the kernel completes them) and never answers.
  int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = kxtest::loopbackAddress(0);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address));
  ASSERT_EQ(0, listen(silent, 4));
  ASSERT_EQ(0, getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length));
  const int silentPort = ntohs(address.sin_port), closedPort = kxtest::freePort();
  NSString *server = [NSString stringWithFormat:@"127.0.0.1:%d", port_];

  struct Row {
    const char *name;
    NSString *host;
    int port;
    BOOL readOnly;
    NSString *password;
    NSInteger code;  // 0: a view
    NSString *description;
  } rows[] = {
      {"read-only password", @"127.0.0.1", port_, YES, kLooker, 0, nil},
      {"read-write password, host by name", @"localhost", port_, NO, kChanger, 0, nil},
      {"read-write password for reading", @"127.0.0.1", port_, YES, kChanger, KXErrorPasswordRefused,
       [NSString stringWithFormat:@"the server at %@ refused the password for reading", server]},
      {"read-only password for changing", @"127.0.0.1", port_, NO, kLooker, KXErrorPasswordRefused,
       [NSString stringWithFormat:@"the server at %@ refused the password for changing the book", server]},
      {"no password", @"127.0.0.1", port_, YES, nil, KXErrorPasswordRefused, nil},
      {"nothing listens", @"127.0.0.1", closedPort, YES, kLooker, KXErrorNoServer,
       [NSString stringWithFormat:@"no address-book server answers at 127.0.0.1:%d", closedPort]},
      {"a listener that never answers", @"127.0.0.1", silentPort, YES, kLooker, KXErrorNoServer, nil},
      {"IPv6 loopback", @"::1", port_, YES, kLooker, KXErrorAddressUnusable,
       @"::1 is an IPv6 address, and address-book servers are reached over IPv4 only"},
      {"IPv6 in brackets", @"[::1]", port_, YES, kLooker, KXErrorAddressUnusable, nil},
      {"IPv4-mapped IPv6", @"::ffff:127.0.0.1", port_, YES, kLooker, KXErrorAddressUnusable, nil},
      {"unknown host", @"nosuchhost.invalid", port_, YES, kLooker, KXErrorAddressUnusable,
       @"cannot find the host nosuchhost.invalid"},
      {"empty host", @"", port_, YES, kLooker, KXErrorAddressUnusable, nil},
      {"no host", nil, port_, YES, kLooker, KXErrorAddressUnusable, nil},
      {"port 0", @"127.0.0.1", 0, YES, kLooker, KXErrorAddressUnusable,
       @"0 is not a port number (1 to 65535)"},
      {"port 65536", @"127.0.0.1", 65536, YES, kLooker, KXErrorAddressUnusable, nil},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    NSError *error = nil;
    KXPublicAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:row.host
                                                                   port:row.port
                                                               readOnly:row.readOnly
                                                               password:row.password
                                                                timeout:2
                                                                  error:&error];
    if (row.code == 0) {
      ASSERT_TRUE(view != nil) << S([error localizedDescription]);
      EXPECT_TRUE(error == nil);
      EXPECT_EQ(row.readOnly, [view isReadOnly]);
      EXPECT_EQ(static_cast<NSUInteger>(kPeople), [[view people] count]);
    } else {
      EXPECT_TRUE(view == nil);
      ASSERT_TRUE(error != nil);
      EXPECT_EQ(S(KXErrorDomain), S([error domain]));
      EXPECT_EQ(row.code, [error code]);
      std::string line = S([error localizedDescription]);
      EXPECT_EQ(std::string::npos, line.find('\n')) << line;
      if (row.description != nil) {
        EXPECT_EQ(S(row.description), line);
      }
    }
    [pool release];
  }
  close(silent);
}

// A client applies cards through a read-write view as it would to a local book: the entries'
// attributes cross both ways and are in the server's book after the save.
TEST_F(CrossingTest, CardsApplyThroughAViewWithTheirAttributes) {
  KXAddressBook *rw = view(NO);
  const char *text =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Remote;Rita\r\nitem1.TEL;type=CELL;type=pref:+1 555\r\n"
      "item1.X-ABLabel:Boat\r\nX-FOO;X-P=1:bar\r\nUID:rita\r\nEND:VCARD\r\n";
  NSArray *cards = [KXVCard cardsFromData:[NSData dataWithBytes:text length:strlen(text)] problems:NULL warnings:NULL];
  NSArray *results = [rw applyVCards:cards];
  ASSERT_EQ(1u, [results count]);
  ASSERT_TRUE([[results objectAtIndex:0] isKindOfClass:[KXPerson class]]) << S(results);
  ASSERT_TRUE([rw save]);

  KXAddressBook *other = view(YES);
  KXMultiValue *phones = [[other recordForUniqueId:@"rita"] valueForProperty:KXPhoneProperty];
  EXPECT_EQ("Boat", S([phones labelAtIndex:0]));
  EXPECT_EQ("CELL,pref", S([[phones attributesAtIndex:0] objectForKey:@"TYPE"]));
  EXPECT_EQ("item1", S([[phones attributesAtIndex:0] objectForKey:KXVCardGroupAttribute]));
  KXRecord *stored = [open(location_) recordForUniqueId:@"rita"];
  EXPECT_TRUE([[stored valueForProperty:KXPhoneProperty] isEqual:phones]);
  EXPECT_EQ("X-FOO;X-P=1:bar", S([[stored valueForProperty:KXOtherVCardPropertiesProperty] valueAtIndex:0]));
  // Applied again through the view, the card changes nothing.
  [rw applyVCards:cards];
  EXPECT_FALSE([rw hasUnsavedChanges]);
}
