// Starting the login service: switched off, refused a busy port, given a number beyond 16
// bits, started again on the port of a server that just died with clients connected, and
// listening on one address, IPv4 or IPv6.
#import "ServiceHarness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using harness::Client;

class ServiceStart : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = [NSAutoreleasePool new]; }
  void TearDown() override { [pool_ release]; }
  NSAutoreleasePool *pool_ = nil;
};

int listenOn(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 5) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(ServiceStart, MinusOneOpensNoSocketAndSaysNothing) {
  testing::internal::CaptureStderr();
  AddressBookServer *server = harness::newServer(-1);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ("", logged);
  EXPECT_EQ(-1, [server loginServicePort]);
  EXPECT_NE(nil, [server connections]);
  EXPECT_EQ(0u, [[server connections] count]);
  EXPECT_EQ(nil, [server addressBookForReadOnlyAccessWithAuth:@"wrong"]);

  // No handler is registered: an accept announced by some other handle is not taken up.
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  NSFileHandle *stray = [[[NSFileHandle alloc] initWithFileDescriptor:pair[0]
                                                       closeOnDealloc:YES] autorelease];
  [[NSNotificationCenter defaultCenter]
      postNotificationName:NSFileHandleConnectionAcceptedNotification
                    object:nil
                  userInfo:[NSDictionary dictionaryWithObject:stray
                                                       forKey:NSFileHandleNotificationFileHandleItem]];
  EXPECT_EQ(0u, [[server connections] count]);
  char byte;
  EXPECT_EQ(-1, recv(pair[1], &byte, 1, MSG_DONTWAIT));  // no greeting went out
  close(pair[1]);
  [server release];
}

// The bind takes the low 16 bits of the number; a failure names the number as given.
TEST_F(ServiceStart, BusyPortIsLoggedAndTheServerGoesOn) {
  const int port = kxtest::freePort();
  const int taken = listenOn(port);
  ASSERT_GE(taken, 0);

  testing::internal::CaptureStderr();
  AddressBookServer *server = harness::newServer(port + 65536);
  const std::string logged = testing::internal::GetCapturedStderr();
  const std::string expected =
      "Couldn't bind to port " + std::to_string(port + 65536) + " - " + strerror(EADDRINUSE);
  EXPECT_NE(std::string::npos, logged.find(expected)) << logged;
  EXPECT_EQ(-1, [server loginServicePort]);
  EXPECT_EQ(nil, [server addressBookForReadWriteAccessWithAuth:@"wrong"]);
  [server release];
  close(taken);

  AddressBookServer *above = harness::newServer(port + 65536);
  EXPECT_EQ(port, [above loginServicePort]);
  Client client;
  ASSERT_TRUE(client.connectTo(port));
  EXPECT_TRUE(client.waitForBytes(6));
  EXPECT_EQ("Hello\n", client.received());
  [above release];
}

// Out of descriptors at start-up, the socket cannot even be made: said once, no service,
// and the server object is whole.
TEST_F(ServiceStart, NoDescriptorForTheSocketIsLogged) {
  NSUserName();  // the log looks the user up once, which takes a descriptor of its own
  rlimit limit{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  const rlimit saved = limit;
  testing::internal::CaptureStderr();
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4096);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
  std::vector<int> filler;
  for (int fd; (fd = dup(0)) >= 0;) filler.push_back(fd);
  AddressBookServer *server = harness::newServer(0);
  for (int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, logged.find(std::string("Unable to create socket - ") + strerror(EMFILE)))
      << logged;
  EXPECT_EQ(-1, [server loginServicePort]);
  EXPECT_EQ(0u, [[server connections] count]);
  EXPECT_EQ(nil, [server addressBookForReadOnlyAccessWithAuth:@"wrong"]);
  [server release];
}

bool loopbackIPv6Works() {
  const int fd = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool works = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  if (fd >= 0) close(fd);
  return works;
}

// Who reaches a service listening on one address, and under which address its budget knows
// them: an IPv4 client of a dual-stack socket is known by its IPv4 address.
TEST_F(ServiceStart, ListensOnTheGivenAddressOnly) {
  struct Reach {
    const char *to;
    const char *peer;  // nullptr: refused
  };
  struct Row {
    const char *listen;
    bool ipv6;
    std::vector<Reach> reaches;
  } rows[] = {
      {"127.0.0.1", false, {{"127.0.0.1", "127.0.0.1"}, {"127.0.0.2", nullptr}}},
      {"127.0.0.2", false, {{"127.0.0.2", "127.0.0.1"}, {"127.0.0.1", nullptr}}},
      {"0.0.0.0", false, {{"127.0.0.1", "127.0.0.1"}, {"127.0.0.3", "127.0.0.1"}}},
      {"::1", true, {{"::1", "::1"}, {"127.0.0.1", nullptr}}},
      {"::", true, {{"::1", "::1"}, {"127.0.0.1", "127.0.0.1"}}},
  };
  const bool ipv6 = loopbackIPv6Works();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.listen);
    if (row.ipv6 && !ipv6) continue;
    AddressBookServer *server = harness::newServer(0, [NSString stringWithUTF8String:row.listen]);
    const int port = [server loginServicePort];
    ASSERT_GT(port, 0);
    for (const Reach &reach : row.reaches) {
      SCOPED_TRACE(reach.to);
      Client client;
      const bool connected = client.connectTo(port, reach.to);
      ASSERT_EQ(reach.peer != nullptr, connected);
      if (!connected) continue;
      ASSERT_TRUE(harness::runUntil([&] { return [[server connections] count] == 1; }));
      EXPECT_STREQ(reach.peer, [[[[server connections] objectAtIndex:0] peerAddress] UTF8String]);
      client.sendBytes("auth ro secret\n");
      EXPECT_TRUE(client.waitForBytes(9));
      EXPECT_EQ("Hello\nOK\n", client.received());
      client.closeNow();
      ASSERT_TRUE(harness::runUntil([&] { return [[server connections] count] == 0; }));
    }
    [server release];
  }
  if (!ipv6) GTEST_SKIP() << "no IPv6 loopback here; the IPv4 rows passed";
}

// An address the service cannot listen on is logged with the reason, and the server serves on
// without the service.
TEST_F(ServiceStart, UnusableListenAddressIsLogged) {
  const int port = kxtest::freePort();
  struct Row {
    const char *listen;
    std::string logged;
  } rows[] = {
      {"localhost",
       "Couldn't bind to port " + std::to_string(port) + " on localhost - not an IPv4 or IPv6 address"},
      {"203.0.113.7",
       "Couldn't bind to port " + std::to_string(port) + " on 203.0.113.7 - " + strerror(EADDRNOTAVAIL)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.listen);
    testing::internal::CaptureStderr();
    AddressBookServer *server = harness::newServer(port, [NSString stringWithUTF8String:row.listen]);
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, logged.find(row.logged)) << logged;
    EXPECT_EQ(-1, [server loginServicePort]);
    EXPECT_EQ(nil, [server addressBookForReadOnlyAccessWithAuth:@"wrong"]);
    [server release];
  }
}

// A server killed with clients logged in leaves its port with closing connections; the next
// server binds it at once and greets.
TEST_F(ServiceStart, RestartBindsWhileOldConnectionsClose) {
  const int port = kxtest::freePort();
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AddressBookServer *server = harness::newServer(port);
    char ok = [server loginServicePort] == port ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    harness::runFor(30);
    [pool release];
    _exit(0);
  }
  close(ready[1]);
  char started = 0;
  ASSERT_EQ(1, read(ready[0], &started, 1));
  close(ready[0]);
  ASSERT_EQ('y', started);

  Client old[3];
  for (Client &c : old) {
    ASSERT_TRUE(c.connectTo(port));
    c.sendBytes("auth ro secret\n");
    ASSERT_TRUE(c.waitForBytes(9));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  testing::internal::CaptureStderr();
  AddressBookServer *server = harness::newServer(port);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ("", logged);
  EXPECT_EQ(port, [server loginServicePort]);
  Client fresh;
  ASSERT_TRUE(fresh.connectTo(port));
  fresh.sendBytes("auth ro secret\n");
  EXPECT_TRUE(fresh.waitForBytes(9));
  EXPECT_EQ("Hello\nOK\n", fresh.received());
  [server release];
}

}  // namespace
