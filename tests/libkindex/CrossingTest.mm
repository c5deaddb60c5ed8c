// Views cross a real Distributed Objects connection on loopback: a child process vends a
// read-only and a read-write view of a book, and this process, as a client, lists, edits,
// adds and saves through one and is refused through the other - also when it bypasses the
// view and talks to the server side directly. Listing takes a fixed number of round trips.
#include "BookTest.h"
#import "views/KXViewServing.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

@protocol KXTestVendor
- (KXAddressBook *)viewReadOnly:(BOOL)readOnly;
/* How an object sent by the client arrived: "proxy", or its class and content. */
- (NSString *)arrivalOf:(id)object;
@end

@interface KXTestVendor : NSObject <KXTestVendor>
{
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
- (KXAddressBook *)viewReadOnly:(BOOL)readOnly {
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:readOnly] autorelease];
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
    connect();
    ASSERT_TRUE(vendor_ != nil);
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

  void connect() {
    NSSocketPort *send = [NSSocketPort portWithNumber:port_ onHost:[NSHost hostWithAddress:@"127.0.0.1"]
                                         forceAddress:nil listener:NO];
    NSSocketPort *receive = [NSSocketPort portWithNumber:0 onHost:nil forceAddress:@"127.0.0.1" listener:YES];
    connection_ = [[NSConnection alloc] initWithReceivePort:receive sendPort:send];
    [connection_ setRequestTimeout:20];
    [connection_ setReplyTimeout:20];
    @try {
      vendor_ = [connection_ rootProxy];
      [vendor_ setProtocolForProxy:@protocol(KXTestVendor)];
    } @catch (id e) {
      vendor_ = nil;
    }
  }

  unsigned requestsSent() {
    return [[[connection_ statistics] objectForKey:NSConnectionRequestsSent] unsignedIntValue];
  }

  KXAddressBook *view(BOOL readOnly) {
    @try {
      return [vendor_ viewReadOnly:readOnly];
    } @catch (id e) {
      ADD_FAILURE() << "asking for a view raised";
      return nil;
    }
  }

  NSString *location_ = nil;
  pid_t server_ = 0;
  int port_ = 0;
  NSConnection *connection_ = nil;
  id vendor_ = nil;
};

TEST_F(CrossingTest, AViewArrivesByCopyAndListsInAFixedNumberOfRoundTrips) {
  KXAddressBook *ro = view(YES);
  ASSERT_TRUE(ro != nil);
  EXPECT_FALSE([ro isProxy]);
  ASSERT_TRUE([ro isKindOfClass:[KXPublicAddressBook class]]);
  EXPECT_TRUE([(KXPublicAddressBook *)ro isReadOnly]);

  unsigned before = requestsSent();
  NSArray *people = [ro people];
  ASSERT_EQ(static_cast<NSUInteger>(kPeople), [people count]);
  std::set<std::string> mails;
  for (NSUInteger i = 0; i < [people count]; i++) {
    KXRecord *p = [people objectAtIndex:i];
    EXPECT_EQ(S(@"Läst"), S([p valueForProperty:KXLastNameProperty]));
    mails.insert(S([[p valueForProperty:KXEmailProperty] valueAtIndex:0]));
  }
  EXPECT_EQ(static_cast<size_t>(kPeople), mails.size());
  EXPECT_LE(requestsSent() - before, 2u) << "listing went record by record";

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
  NSData *value = [NSData dataWithBytes:"\x01\x07" "Changed" length:9];
  EXPECT_FALSE([endpoint setValueData:value forProperty:KXFirstNameProperty ofRecordWithId:[p uniqueId]]);
  EXPECT_FALSE([endpoint removeRecordWithId:[p uniqueId]]);
  EXPECT_FALSE([endpoint removeMemberWithId:[[[g members] objectAtIndex:0] uniqueId] fromGroupWithId:[g uniqueId]]);
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
  KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] init] autorelease];
  [mails addValue:@"x@example.org" withLabel:KXEmailWorkLabel];
  KXPerson *p = person(@"Copy", nil, nil);
  [p setValue:mails forProperty:KXEmailProperty];
  EXPECT_EQ("KXPerson " + S([p uniqueId]) + " Copy x@example.org", S([vendor_ arrivalOf:p]));
  EXPECT_EQ("KXMultiValue x@example.org", S([vendor_ arrivalOf:[p valueForProperty:KXEmailProperty]]));
  EXPECT_EQ("KXMutableMultiValue x@example.org", S([vendor_ arrivalOf:mails]));
  // The same record archived and read back, as a program that stores records would.
  KXPerson *back = [NSUnarchiver unarchiveObjectWithData:[NSArchiver archivedDataWithRootObject:p]];
  EXPECT_EQ(S([p uniqueId]), S([back uniqueId]));
  EXPECT_TRUE([[back valueForProperty:KXEmailProperty] isEqual:[p valueForProperty:KXEmailProperty]]);
}
