// A real Distributed Objects client against a real bookd: who gets a view for which
// password, whether or not the client sets the protocol on its proxy, what a view can do to
// the served book, that nothing but the two access methods (and, on a view, what the view
// offers) can be reached from the wire, how many guesses one address gets, and what a client
// sees when bookd is out of descriptors.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>
#include <objc/runtime.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <chrono>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "LoopbackConnection.h"
#include "LoopbackPort.h"
#include "TempDir.h"

using kxtest::ChildProcess;

// What an attacker declares so that its proxies send messages the server never offered.
@protocol BookdAttack
- (id)valueForKey:(NSString *)key;
- (void)setValue:(id)value forKey:(NSString *)key;
- (id)target;
- (id)protocol;
- (id)performSelector:(SEL)selector;
- (id)performSelector:(SEL)selector withObject:(id)object;
- (id)copy;
- (id)mutableCopy;
- (id)self;
- (BOOL)removeRecordWithId:(NSString *)uid;
- (BOOL)setValueData:(NSData *)value forProperty:(NSString *)property ofRecordWithId:(NSString *)uid;
- (BOOL)save;
@end

// What the answer to a signature question offers: its types (GNUstep declares the method in
// no public header).
@protocol SignatureAnswer
- (const char *)methodType;
@end

// How a crafted client sends any message at all, past its own proxy's local methods.
@interface NSConnection (BookdAttack)
- (void)forwardInvocation:(NSInvocation *)invocation forProxy:(NSDistantObject *)proxy;
@end

namespace {

const char kReadOnly[] = "ro-secret";
const char kReadWrite[] = "rw-secret";

NSString *Str(const std::string &text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

// Runs expr; true when it raised. The caught object is not touched: under GCC's
// Objective-C++ it does not survive the catch.
#define RAISES(expr) \
  ([&]() -> bool {   \
    @try {           \
      (void)(expr);  \
    } @catch (id) {  \
      return true;   \
    }                \
    return false;    \
  }())

class Remote : public ::testing::Test {
 public:
  void SetUp() override {
    pool_ = [NSAutoreleasePool new];
    book_ = tmp_.path() + "/book";
    mkdir(book_.c_str(), 0700);
  }
  void TearDown() override {
    bookd_.kill();
    [pool_ release];
  }

  // Runs the helper tool to completion; its standard output.
  std::string tool(const std::vector<std::string> &args, int *status = nullptr) {
    ChildProcess child;
    std::vector<std::string> argv{"bookd_book_tool"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_TRUE(child.start(BOOK_TOOL_PATH, argv));
    EXPECT_TRUE(child.waitForExit(60));
    if (status) {
      *status = child.status();
    } else {
      EXPECT_EQ(child.status(), 0) << child.error();
    }
    return child.output();
  }

  void startBookd(const std::string &ro = kReadOnly, const std::string &rw = kReadWrite) {
    receivePort_ = kxtest::freePort();
    int sendPort = kxtest::freePort();
    ASSERT_TRUE(bookd_.start(
        BOOKD_PATH, {"bookd", "--ab", book_, "--ro", ro, "--rw", rw, "--rp", std::to_string(receivePort_),
                     "--sp", std::to_string(sendPort), "--sock", "-1"}));
    ASSERT_TRUE(bookd_.waitForError("Running.\n", 30)) << bookd_.error();
  }

  // A client that sets the protocol on its proxy, or (plain) one that does not: its proxy then
  // asks the server for each method's signature before the first call.
  id server(bool plain = false) {
    id root = [kxtest::loopbackConnection(receivePort_, 20) rootProxy];
    if (!plain) [root setProtocolForProxy:@protocol(KXSimpleAddressBookServing)];
    return root;
  }

  // A view as clients open one, through the library; when there is none, the server must
  // have refused the password (rather than not answered).
  KXAddressBook *grant(BOOL readOnly, id password) {
    NSError *error = nil;
    KXAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                                             port:receivePort_
                                                         readOnly:readOnly
                                                         password:password
                                                          timeout:20
                                                            error:&error];
    if (view == nil) {
      EXPECT_EQ([error code], KXErrorPasswordRefused) << [[error localizedDescription] UTF8String];
    }
    return view;
  }
  // A plain client asks the vended object itself, without setting the protocol on its proxy.
  KXAddressBook *plainGrant(BOOL readOnly, id password) {
    id root = server(true);
    return readOnly ? [root addressBookForReadOnlyAccessWithAuth:password]
                    : [root addressBookForReadWriteAccessWithAuth:password];
  }
  KXAddressBook *readOnly(id password = Str(kReadOnly), bool plain = false) {
    return plain ? plainGrant(YES, password) : grant(YES, password);
  }
  KXAddressBook *readWrite(id password = Str(kReadWrite), bool plain = false) {
    return plain ? plainGrant(NO, password) : grant(NO, password);
  }

  // The proxy through which a view that crossed the connection talks to the server.
  static id endpointOf(KXAddressBook *view) {
    Ivar ivar = class_getInstanceVariable([view class], "_remote");
    return ivar ? object_getIvar(view, ivar) : nil;
  }

  NSAutoreleasePool *pool_ = nil;
  kxtest::TempDir tmp_{"bookd-remote"};
  std::string book_;
  int receivePort_ = -1;
  ChildProcess bookd_;
};

struct GrantRow {
  bool readWriteOperation;
  id offered;
  bool granted;
};

// Each kind of client against a bookd of its own: together their wrong passwords would exceed
// the budget of one address.
void expectGrantTable(Remote &remote, bool plain) {
  const std::vector<GrantRow> rows = {
      {false, Str(kReadOnly), true},
      {true, Str(kReadWrite), true},
      {false, nil, false},
      {true, nil, false},
      {false, @"", false},
      {true, @"", false},
      {false, @"RO-SECRET", false},
      {true, @"RW-Secret", false},
      {false, @" ro-secret", false},
      {true, @"rw-secret\n", false},
      {false, @"ro-secret ", false},
      {true, @"\trw-secret", false},
      {false, @"ro-secre", false},
      {true, @"rw-secretx", false},
      {false, Str(kReadWrite), false},
      {true, Str(kReadOnly), false},
      {false, [NSNumber numberWithInt:0], false},
      {true, [NSArray arrayWithObject:Str(kReadWrite)], false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.readWriteOperation ? "rw " : "ro ") +
                 (row.offered ? [[row.offered description] UTF8String] : "nil"));
    KXAddressBook *view =
        row.readWriteOperation ? remote.readWrite(row.offered, plain) : remote.readOnly(row.offered, plain);
    EXPECT_EQ(view != nil, row.granted);
    if (view != nil) {
      EXPECT_EQ([(KXPublicAddressBook *)view isReadOnly], !row.readWriteOperation);
    }
  }
}

TEST_F(Remote, GrantsOnlyForTheExactPasswordOfEachOperation) {
  startBookd();
  expectGrantTable(*this, false);
}

TEST_F(Remote, PlainClientIsGrantedExactlyTheSame) {
  startBookd();
  expectGrantTable(*this, true);
}

TEST_F(Remote, EmptyStoredPasswordMatchesOnlyTheEmptyString) {
  startBookd("", "both");
  EXPECT_NE(readOnly(@""), nil);
  EXPECT_EQ(readOnly(nil), nil);
  EXPECT_EQ(readOnly(@" "), nil);
  EXPECT_EQ(readWrite(@""), nil);
}

TEST_F(Remote, FoundByNameWhereTheNameServerRuns) {
  // A password of its own, so that only this bookd can grant it.
  const std::string password = "by-name-" + std::to_string(getpid());
  startBookd(password);
  if (bookd_.error().find("Could not register the name AddressServer") != std::string::npos)
    GTEST_SKIP() << "no socket-port name server took the name: " << bookd_.error();
  NSConnection *connection =
      [NSConnection connectionWithRegisteredName:@"AddressServer"
                                            host:@"127.0.0.1"
                                 usingNameServer:[NSSocketPortNameServer sharedInstance]];
  ASSERT_NE(connection, nil);
  id root = [connection rootProxy];
  [root setProtocolForProxy:@protocol(KXSimpleAddressBookServing)];
  EXPECT_NE([root addressBookForReadOnlyAccessWithAuth:Str(password)], nil);
}

TEST_F(Remote, TwoGrantsAreTwoViewsOfOneBook) {
  startBookd();
  KXAddressBook *first = readWrite();
  KXAddressBook *second = readWrite();
  ASSERT_NE(first, nil);
  ASSERT_NE(second, nil);
  EXPECT_NE(first, second);
  EXPECT_NE(endpointOf(first), endpointOf(second));

  KXPerson *person = [[[KXPerson alloc] init] autorelease];
  [person setValue:@"Ada" forProperty:KXFirstNameProperty];
  ASSERT_TRUE([first addRecord:person]);
  // Unsaved, the change is the first view's own: no other view sees it.
  EXPECT_EQ([[second people] count], 0u);
  EXPECT_FALSE([second hasUnsavedChanges]);
  EXPECT_EQ([[readOnly() people] count], 0u);
  // Saved, it is in the one served book, so every other view sees it.
  ASSERT_TRUE([first save]);
  ASSERT_EQ([[second people] count], 1u);
  EXPECT_TRUE(
      [[[[second people] objectAtIndex:0] valueForProperty:KXFirstNameProperty] isEqualToString:@"Ada"]);
  EXPECT_EQ([[readOnly() people] count], 1u);
}

TEST_F(Remote, ReadWriteClientSavesForOtherProcesses) {
  startBookd();
  KXAddressBook *view = readWrite();
  ASSERT_NE(view, nil);
  KXPerson *person = [[[KXPerson alloc] init] autorelease];
  [person setValue:@"Grace" forProperty:KXFirstNameProperty];
  [person setValue:@"Hopper" forProperty:KXLastNameProperty];
  KXMutableMultiValue *mail = [[[KXMutableMultiValue alloc] init] autorelease];
  [mail addValue:@"grace@example.org" withLabel:KXEmailWorkLabel];
  [person setValue:mail forProperty:KXEmailProperty];
  ASSERT_TRUE([view addRecord:person]);
  ASSERT_TRUE([view save]);
  EXPECT_EQ(tool({"list", book_}), "Grace Hopper grace@example.org\n");
}

TEST_F(Remote, ReadOnlyClientChangesNothing) {
  tool({"fill", book_, "3"});
  startBookd();
  KXAddressBook *view = readOnly();
  ASSERT_NE(view, nil);
  NSArray *people = [view people];
  NSArray *groups = [view groups];
  ASSERT_EQ([people count], 3u);
  ASSERT_EQ([groups count], 1u);
  const auto before = kxtest::readTree(book_);
  KXPerson *someone = [people objectAtIndex:0];
  KXGroup *group = [groups objectAtIndex:0];

  KXPerson *stranger = [[[KXPerson alloc] init] autorelease];
  [stranger setValue:@"Mallory" forProperty:KXFirstNameProperty];
  EXPECT_FALSE([view addRecord:stranger]);
  EXPECT_FALSE([view removeRecord:someone]);
  EXPECT_FALSE([someone setValue:@"Changed" forProperty:KXFirstNameProperty]);
  EXPECT_FALSE([someone removeValueForProperty:KXLastNameProperty]);
  EXPECT_FALSE([group addMember:[people objectAtIndex:1]]);
  EXPECT_FALSE([group removeMember:[[group members] objectAtIndex:0]]);
  EXPECT_FALSE([group setValue:@"Enemies" forProperty:KXGroupNameProperty]);

  // A client that flips its own copy of the flag gets no further: the server decides.
  Ivar flag = class_getInstanceVariable([view class], "_readOnly");
  ASSERT_NE(flag, nullptr);
  *reinterpret_cast<BOOL *>(reinterpret_cast<char *>(view) + ivar_getOffset(flag)) = NO;
  EXPECT_FALSE([view addRecord:stranger]);
  EXPECT_FALSE([view removeRecord:someone]);
  EXPECT_FALSE([view save]);
  EXPECT_FALSE([view hasUnsavedChanges]);

  // Nor does one that talks to the server's side directly (its proxy, given another protocol,
  // no longer serves the view).
  id endpoint = endpointOf(view);
  ASSERT_NE(endpoint, nil);
  [endpoint setProtocolForProxy:@protocol(BookdAttack)];
  BOOL removed = NO;
  if (!RAISES(removed = [endpoint removeRecordWithId:[someone uniqueId]])) {
    EXPECT_FALSE(removed);
  }
  BOOL set = NO;
  NSData *junk = [@"x" dataUsingEncoding:NSUTF8StringEncoding];
  if (!RAISES(set = [endpoint setValueData:junk
                               forProperty:KXFirstNameProperty
                            ofRecordWithId:[someone uniqueId]])) {
    EXPECT_FALSE(set);
  }

  KXAddressBook *again = readOnly();
  EXPECT_EQ([[again people] count], 3u);
  EXPECT_EQ(tool({"list", book_}), "First0 Last0 person0@example.org\nFirst1 Last1 person1@example.org\n"
                                   "First2 Last2 person2@example.org\n");
  EXPECT_TRUE(before == kxtest::readTree(book_)) << "the store changed";
}

struct Attack {
  const char *name;
  id (*send)(id proxy);
};

id sendValueForKeyRwPwd(id p) {
  return [p valueForKey:@"_rwPwd"];
}
id sendValueForKeyRoPwd(id p) {
  return [p valueForKey:@"_roPwd"];
}
id sendValueForKeyBook(id p) {
  return [p valueForKey:@"_book"];
}
id sendTarget(id p) {
  return [p target];
}
id sendProtocol(id p) {
  return [p protocol];
}
id sendPerformTarget(id p) {
  return [p performSelector:@selector(target)];
}
id sendPerformValueForKey(id p) {
  return [p performSelector:@selector(valueForKey:) withObject:@"_book"];
}
id sendSetValueForKey(id p) {
  [p setValue:@"owned" forKey:@"_rwPwd"];
  return @"returned";  // reaching here without a raise counts as a breach
}
id sendCopy(id p) {
  return [p copy];
}
id sendMutableCopy(id p) {
  return [p mutableCopy];
}

const Attack kAttacks[] = {
    {"valueForKey: _rwPwd", sendValueForKeyRwPwd},
    {"valueForKey: _roPwd", sendValueForKeyRoPwd},
    {"valueForKey: _book", sendValueForKeyBook},
    {"target", sendTarget},
    {"protocol", sendProtocol},
    {"performSelector: target", sendPerformTarget},
    {"performSelector: valueForKey:", sendPerformValueForKey},
    {"setValue:forKey:", sendSetValueForKey},
    {"copy", sendCopy},
    {"mutableCopy", sendMutableCopy},
};

// plain: the proxy is left without a protocol, so that it asks the server for each
// signature first, as a plain client's does.
void expectAttacksFail(id proxy, const std::string &on, bool plain = false) {
  if (!plain) [proxy setProtocolForProxy:@protocol(BookdAttack)];
  for (const auto &attack : kAttacks) {
    SCOPED_TRACE(on + ": " + attack.name);
    id result = nil;
    bool raised = RAISES(result = attack.send(proxy));
    EXPECT_TRUE(raised || result == nil) << "answered " << [[result description] UTF8String];
  }
}

// Sends release straight down the wire, as many times as asked: an object that obeyed would
// be freed under the server's feet.
void sendCraftedReleases(id proxy, int times) {
  SEL release = @selector(release);
  NSMethodSignature *signature = [NSObject instanceMethodSignatureForSelector:release];
  for (int i = 0; i < times; i++) {
    NSInvocation *invocation = [NSInvocation invocationWithMethodSignature:signature];
    [invocation setSelector:release];
    [invocation setTarget:proxy];
    (void)RAISES([[proxy connectionForProxy] forwardInvocation:invocation forProxy:proxy]);
  }
}

TEST_F(Remote, NothingButTheOfferedMethodsAnswers) {
  startBookd();
  id root = server();
  expectAttacksFail(root, "root");
  // The password fields stay where they were: a new server proxy still works as before.
  ASSERT_NE(readWrite(), nil);

  KXAddressBook *ro = readOnly();
  KXAddressBook *rw = readWrite();
  ASSERT_NE(endpointOf(ro), nil);
  ASSERT_NE(endpointOf(rw), nil);
  expectAttacksFail(endpointOf(ro), "read-only view");
  expectAttacksFail(endpointOf(rw), "read-write view");
  EXPECT_TRUE([(KXPublicAddressBook *)readOnly() isReadOnly]);

  sendCraftedReleases(root, 50);
  sendCraftedReleases(endpointOf(ro), 50);
  // The views whose proxies were given the attacker's protocol serve no more; a new one does.
  EXPECT_EQ([[readOnly() people] count], 0u);
  ASSERT_NE(readWrite(), nil);
  EXPECT_TRUE(bookd_.running()) << bookd_.error();
}

// Sends a message through the proxy as it is, past the proxy's own methods and its cache of
// signatures; answers the object the server returned.
id sendCrafted(id proxy, SEL selector, const char *types, SEL argument) {
  NSInvocation *invocation =
      [NSInvocation invocationWithMethodSignature:[NSMethodSignature signatureWithObjCTypes:types]];
  [invocation setSelector:selector];
  [invocation setTarget:proxy];
  [invocation setArgument:&argument atIndex:2];
  id result = nil;
  if (RAISES([[proxy connectionForProxy] forwardInvocation:invocation forProxy:proxy])) return nil;
  [invocation getReturnValue:&result];
  return result;
}

// A client that never sets a protocol gets its views; what the server answers its proxy's
// questions about signatures opens nothing the protocol's own client could not reach.
TEST_F(Remote, PlainClientGetsNothingMore) {
  startBookd();
  id root = server(true);
  expectAttacksFail(root, "plain root", true);
  KXAddressBook *view = [root addressBookForReadWriteAccessWithAuth:Str(kReadWrite)];
  ASSERT_NE(view, nil);
  EXPECT_FALSE([(KXPublicAddressBook *)view isReadOnly]);
  EXPECT_EQ([root addressBookForReadOnlyAccessWithAuth:Str(kReadWrite)], nil);

  // The question a plain proxy asks, sent by hand: answered for the protocol's methods only,
  // and the answer itself offers its types and nothing else.
  const SEL ask = @selector(methodSignatureForSelector:);
  EXPECT_EQ(sendCrafted(root, ask, "@@::", @selector(valueForKey:)), nil);
  EXPECT_EQ(sendCrafted(root, ask, "@@::", @selector(performSelector:)), nil);
  EXPECT_EQ(sendCrafted(root, ask, "@@::", @selector(target)), nil);
  id answer = sendCrafted(root, ask, "@@::", @selector(addressBookForReadOnlyAccessWithAuth:));
  ASSERT_NE(answer, nil);
  ASSERT_TRUE([answer isProxy]);
  const char *types = [(id<SignatureAnswer>)answer methodType];
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(std::string(types).substr(0, 1), "@") << types;
  expectAttacksFail(answer, "signature answer");
  expectAttacksFail(answer, "signature answer, plain", true);
  sendCraftedReleases(answer, 50);
  sendCraftedReleases(root, 50);

  EXPECT_NE(readOnly(Str(kReadOnly), true), nil);
  EXPECT_NE(readWrite(), nil);
  EXPECT_TRUE(bookd_.running()) << bookd_.error();
}

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

// The budget over the real wire: the grant must learn the peer from the connection it arrives
// on, or the log would name no address.
TEST_F(Remote, GuessingFromOneAddressIsBounded) {
  startBookd();
  id root = server(true);
  for (int i = 0; i < 20; i++) ASSERT_EQ([root addressBookForReadOnlyAccessWithAuth:@"guess"], nil);
  EXPECT_EQ([root addressBookForReadOnlyAccessWithAuth:Str(kReadOnly)], nil);
  EXPECT_EQ(readWrite(), nil);  // a new connection from the same address
  ASSERT_TRUE(bookd_.waitForError("on the Distributed Objects service", 10)) << bookd_.error();
  EXPECT_NE(bookd_.error().find("Too many wrong passwords from 127.0.0.1 on the Distributed Objects service"),
            std::string::npos)
      << bookd_.error();
  // A second later one more check is allowed, and the right password gets its view.
  usleep(1100 * 1000);
  EXPECT_NE(readWrite(), nil);
  EXPECT_EQ(1u, Count(bookd_.error(), "Too many wrong passwords"));
}

// A grant refused over budget is answered at once, but the next request on that connection
// waits: a guesser asking again the moment it is answered cannot take the thread from others.
TEST_F(Remote, AGuesserOverBudgetIsAnsweredAtMostTwiceASecond) {
  startBookd();
  id root = server(true);
  for (int i = 0; i < 20; i++) ASSERT_EQ([root addressBookForReadOnlyAccessWithAuth:@"guess"], nil);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; i++) EXPECT_EQ([root addressBookForReadOnlyAccessWithAuth:@"guess"], nil);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // At least two of the three requests after the first waited a pause (see the login service's
  // twin of this test).
  EXPECT_GE(seconds, 0.95);
  EXPECT_TRUE(bookd_.running()) << bookd_.error();
}

int openDescriptors(pid_t pid) {
  DIR *dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; i++)
    if (i == 14 || i == 15) ticks += std::atol(field.c_str());
  return static_cast<double>(ticks) / sysconf(_SC_CLK_TCK);
}

// Out of descriptors, bookd cannot accept a new client: that client gets no root object (it
// is no wrong password), bookd says so once and does not spin, open connections are served,
// and the waiting client is served once descriptors are free again.
TEST_F(Remote, ClientsRefusedForLackOfDescriptorsAreLogged) {
  startBookd();
  id early = server();
  ASSERT_NE([early addressBookForReadOnlyAccessWithAuth:Str(kReadOnly)], nil);
  const int open = openDescriptors(bookd_.pid());
  ASSERT_GT(open, 0);
  rlimit tight{static_cast<rlim_t>(open), static_cast<rlim_t>(open)}, saved{};
  ASSERT_EQ(0, prlimit(bookd_.pid(), RLIMIT_NOFILE, nullptr, &saved));
  tight.rlim_max = saved.rlim_max;
  ASSERT_EQ(0, prlimit(bookd_.pid(), RLIMIT_NOFILE, &tight, nullptr));

  std::vector<NSConnection *> clients;
  int rootless = 0;
  for (int i = 0; i < 5; i++) {
    NSConnection *connection = kxtest::loopbackConnection(receivePort_, 1);
    clients.push_back(connection);
    id root = nil;
    if (!RAISES(root = [connection rootProxy]) && root != nil) {
      [root setProtocolForProxy:@protocol(KXSimpleAddressBookServing)];
      (void)RAISES([root addressBookForReadOnlyAccessWithAuth:Str(kReadOnly)]);
    } else {
      rootless++;
    }
  }
  EXPECT_GE(rootless, 3);  // a descriptor bookd had open a moment ago may have been freed since
  const double cpuBefore = cpuSeconds(bookd_.pid());
  usleep(500 * 1000);
  EXPECT_LT(cpuSeconds(bookd_.pid()) - cpuBefore, 0.25) << "the failing accept spins";
  EXPECT_NE([early addressBookForReadOnlyAccessWithAuth:Str(kReadOnly)], nil);

  ASSERT_EQ(0, prlimit(bookd_.pid(), RLIMIT_NOFILE, &saved, nullptr));
  EXPECT_NE(readOnly(), nil);
  ASSERT_TRUE(bookd_.waitForError("Accepting Distributed Objects connections again", 10)) << bookd_.error();
  EXPECT_EQ(1u,
            Count(bookd_.error(), "Couldn't accept a Distributed Objects connection - Too many open files"))
      << bookd_.error();
  for (NSConnection *connection : clients) [connection invalidate];
}

// Sends bytes to the receive port and goes away, gracefully or with a reset.
void vanish(int port, const std::string &bytes, bool reset) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  if (!bytes.empty()) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
  }
  if (reset) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  close(fd);
}

TEST_F(Remote, ServesOnAfterClientsVanishMidRequest) {
  tool({"fill", book_, "10000"});
  startBookd();
  vanish(receivePort_, "", false);
  vanish(receivePort_, std::string("\0\0\0\1\0\0\0\x40partial", 15), false);
  vanish(receivePort_, std::string(200, '\xff'), true);

  // A real client killed while the server answers it, at a few points of the exchange.
  for (int delayMs : {0, 20, 60, 120}) {
    ChildProcess client;
    ASSERT_TRUE(client.start(BOOK_TOOL_PATH, {"bookd_book_tool", "remote-list", "127.0.0.1",
                                              std::to_string(receivePort_), kReadOnly}));
    usleep(delayMs * 1000);
    client.kill();
  }

  ASSERT_TRUE(bookd_.running()) << bookd_.error();
  KXAddressBook *view = readOnly();
  ASSERT_NE(view, nil);
  EXPECT_EQ([[view people] count], 10000u);
  int status = -1;
  std::string listing = tool({"remote-list", "127.0.0.1", std::to_string(receivePort_), kReadOnly}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 10000);
}

}  // namespace
