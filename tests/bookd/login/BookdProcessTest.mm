// The login service inside the real bookd, beside its Distributed Objects service: neither
// a busy socket port nor misbehaving socket clients may cost a remote client its view.
#import "ServiceHarness.h"
#include "ChildProcess.h"
#include "LoopbackPort.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <sys/resource.h>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using harness::Client;

// bookd as a child, its standard error collected; killed when the object goes.
class Bookd {
 public:
  // passwords: the options that give them ("--ro", "secret" and the like, or "--conf", path)
  explicit Bookd(int socketPort,
                 std::vector<std::string> passwords = {"--ro", "secret", "--rw", "rw-secret"}) {
    char dir[] = "/tmp/socket_bookd_test.XXXXXX";
    if (mkdtemp(dir) != nullptr) book_ = dir;
    receivePort_ = kxtest::freePort();
    const int sendPort = kxtest::freePort();
    std::vector<std::string> args = {BOOKD_PATH,
                                     "--ab",
                                     book_,
                                     "--rp",
                                     std::to_string(receivePort_),
                                     "--sp",
                                     std::to_string(sendPort),
                                     "--sock",
                                     std::to_string(socketPort)};
    args.insert(args.end(), passwords.begin(), passwords.end());
    child_.start(BOOKD_PATH, args, {"LC_ALL=C.UTF-8"});
  }
  ~Bookd() {
    child_.kill();
    if (!book_.empty()) {
      std::string remove = "rm -rf '" + book_ + "'";
      if (std::system(remove.c_str()) != 0) ADD_FAILURE() << "could not remove " << book_;
    }
  }

  // Collects standard error until it holds text or the deadline passes.
  bool waitForError(const std::string &text, double seconds = 10) {
    return child_.waitForError(text, seconds);
  }

  // Asks the server for a read-only view over Distributed Objects, as a remote client does.
  ::testing::AssertionResult grantsView(NSString *host = @"127.0.0.1") {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    NSError *error = nil;
    KXPublicAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:host
                                                                   port:receivePort_
                                                               readOnly:YES
                                                               password:@"secret"
                                                                timeout:10
                                                                  error:&error];
    ::testing::AssertionResult granted = view != nil ? ::testing::AssertionSuccess()
                                                     : ::testing::AssertionFailure()
                                                           << [[error localizedDescription] UTF8String];
    [pool release];
    return granted;
  }

  const std::string &error() const { return child_.error(); }

 private:
  kxtest::ChildProcess child_;
  int receivePort_ = 0;
  std::string book_;
};

void expectLoginServed(int port) {
  Client good;
  ASSERT_TRUE(good.connectTo(port));
  good.sendBytes("auth ro secret\n");
  EXPECT_TRUE(good.waitForBytes(9));
  EXPECT_EQ("Hello\nOK\n", good.received());
}

class BookdProcess : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = [NSAutoreleasePool new]; }
  void TearDown() override { [pool_ release]; }
  NSAutoreleasePool *pool_ = nil;
};

TEST_F(BookdProcess, BusySocketPortIsLoggedAndViewsAreStillGranted) {
  const int port = kxtest::freePort();
  int taken = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(0, bind(taken, reinterpret_cast<sockaddr *>(&address), sizeof address));
  ASSERT_EQ(0, listen(taken, 5));

  Bookd bookd(port);
  ASSERT_TRUE(bookd.waitForError("Running.\n")) << bookd.error();
  EXPECT_NE(std::string::npos,
            bookd.error().find("Couldn't bind to port " + std::to_string(port) + " - Address already in use"))
      << bookd.error();
  EXPECT_TRUE(bookd.grantsView());
  close(taken);
}

TEST_F(BookdProcess, MisbehavingSocketClientsCostNeitherLoginsNorViews) {
  const int port = kxtest::freePort();
  Bookd bookd(port);
  ASSERT_TRUE(bookd.waitForError("Running.\n")) << bookd.error();
  std::mt19937 random(4);
  struct Fault {
    const char *name;
    std::function<void()> run;
  } faults[] = {
      {"resets before the greeting",
       [&] {
         for (int i = 0; i < 20; i++) {
           Client c;
           ASSERT_TRUE(c.connectTo(port));
           c.resetNow();
         }
       }},
      {"resets after sending",
       [&] {
         for (int i = 0; i < 20; i++) {
           Client c;
           ASSERT_TRUE(c.connectTo(port));
           c.sendBytes("auth ro secret\n");
           c.resetNow();
         }
       }},
      {"resets while replies are due",
       [&] {
         Client c;
         ASSERT_TRUE(c.connectTo(port));
         ASSERT_TRUE(c.waitForBytes(6));
         for (int i = 0; i < 200; i++) c.sendBytes("x\n");
         c.resetNow();
       }},
      {"a megabyte without a line break",
       [&] {
         Client c;
         ASSERT_TRUE(c.connectTo(port));
         c.sendBytes(std::string(1 << 20, 'a'));
         c.waitForQuiet(0.2);
         EXPECT_FALSE(c.peerClosed());
       }},
      {"random bytes",
       [&] {
         Client c;
         ASSERT_TRUE(c.connectTo(port));
         std::string bytes(256 * 1024, '\0');
         for (char &b : bytes) b = static_cast<char>(random());
         c.sendBytes(bytes);
         c.waitForQuiet(0.2);
       }},
  };
  for (const Fault &fault : faults) {
    SCOPED_TRACE(fault.name);
    fault.run();
    expectLoginServed(port);
    EXPECT_TRUE(bookd.grantsView());
  }
}

// A client that opens connections in a loop as fast as it can: with a shallow backlog taken
// one connection per pass of the run loop, every sixth or so waited a second for the
// kernel's SYN retry. None may wait now, and every one is greeted.
TEST_F(BookdProcess, BurstOfConnectsWaitsForNoRetry) {
  const int kClients = 800;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 2 * kClients && limit.rlim_max >= 2 * kClients) {
    limit.rlim_cur = 2 * kClients;
    setrlimit(RLIMIT_NOFILE, &limit);  // bookd inherits it
  }
  const int port = kxtest::freePort();
  Bookd bookd(port);
  ASSERT_TRUE(bookd.waitForError("Running.\n")) << bookd.error();
  const sockaddr_in address = kxtest::loopbackAddress(port);
  std::vector<int> fds;
  double slowest = 0;
  for (int i = 0; i < kClients; i++) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0) << i;
    fds.push_back(fd);
    const auto start = std::chrono::steady_clock::now();
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
      ASSERT_EQ(EINPROGRESS, errno) << i;
      pollfd ready{fd, POLLOUT, 0};
      ASSERT_EQ(1, poll(&ready, 1, 5000)) << i;
    }
    slowest =
        std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  EXPECT_LT(slowest, 0.5) << "a connect waited for a SYN retry";
  int greeted = 0;
  for (int fd : fds) {
    pollfd readable{fd, POLLIN, 0};
    char greeting[7] = {0};
    if (poll(&readable, 1, 10000) == 1 && recv(fd, greeting, 6, MSG_WAITALL) == 6 &&
        std::string(greeting) == "Hello\n")
      greeted++;
    close(fd);
  }
  EXPECT_EQ(kClients, greeted);
}

bool connects(int port, const std::string &to) {
  Client client;
  return client.connectTo(port, to) && client.waitForBytes(6) && client.received() == "Hello\n";
}

// --listen and ListenAddress name the address of both services: the login service binds it
// (IPv6 too), Distributed Objects its IPv4 counterpart.
TEST_F(BookdProcess, ListenAddressIsWhereBothServicesListen) {
  char path[] = "/tmp/socket_bookd_listen.XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string config = "{ ListenAddress = \"127.0.0.1\"; }\n";
  ASSERT_EQ(static_cast<ssize_t>(config.size()), write(fd, config.data(), config.size()));
  close(fd);
  struct Row {
    std::vector<std::string> options;
    bool ipv6;
    const char *reached, *missed;  // by the login service's clients
  } rows[] = {
      {{"--listen", "127.0.0.1"}, false, "127.0.0.1", "127.0.0.2"},
      {{"--conf", path}, false, "127.0.0.1", "127.0.0.2"},
      {{"--listen", "::1"}, true, "::1", "127.0.0.1"},
      {{"--listen", "::"}, true, "127.0.0.2", nullptr},
  };
  const int probe = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 loopback6{};
  loopback6.sin6_family = AF_INET6;
  loopback6.sin6_addr = in6addr_loopback;
  const bool ipv6 =
      probe >= 0 && bind(probe, reinterpret_cast<sockaddr *>(&loopback6), sizeof loopback6) == 0;
  if (probe >= 0) close(probe);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.options.back());
    if (row.ipv6 && !ipv6) continue;
    const int port = kxtest::freePort();
    std::vector<std::string> options = {"--ro", "secret", "--rw", "rw-secret"};
    options.insert(options.end(), row.options.begin(), row.options.end());
    Bookd bookd(port, options);
    ASSERT_TRUE(bookd.waitForError("Running.\n")) << bookd.error();
    EXPECT_TRUE(connects(port, row.reached));
    if (row.missed != nullptr) {
      EXPECT_FALSE(connects(port, row.missed));
    }
    EXPECT_TRUE(bookd.grantsView());
    const bool loopbackOnly = row.missed != nullptr;
    // Distributed Objects listens on 127.0.0.1 only, or on every IPv4 address.
    EXPECT_EQ(loopbackOnly, bookd.error().find("on IP 127.0.0.1,") != std::string::npos) << bookd.error();
    if (loopbackOnly) {
      EXPECT_FALSE(bookd.grantsView(@"127.0.0.2"));
    }
  }
  unlink(path);
}

// Passwords are the bytes the administrator typed: a client sending the same bytes logs in,
// whether they came from the command line or from the configuration file.
TEST_F(BookdProcess, NonAsciiPasswordsLogInWithTheirOwnBytes) {
  char path[] = "/tmp/socket_bookd_conf.XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string config = "{ ReadWritePassword = \"w\xc3\xb6rt\xe2\x82\xac\"; }\n";
  ASSERT_EQ(static_cast<ssize_t>(config.size()), write(fd, config.data(), config.size()));
  close(fd);

  const int port = kxtest::freePort();
  Bookd bookd(port, {"--ro", "p\xc3\xa4ss\twort", "--conf", path});
  ASSERT_TRUE(bookd.waitForError("Running.\n")) << bookd.error();
  struct Case {
    std::string line;
    std::string reply;
  } cases[] = {
      {"auth ro p\xc3\xa4ss\twort\n", "OK\n"},
      {"auth rw w\xc3\xb6rt\xe2\x82\xac\n", "OK\n"},
      {"auth ro p\xe4ss\twort\n", "Error\n"},  // the same text in Latin-1 bytes
      {"auth rw w\xc3\xb6rt\n", "Error\n"},
  };
  for (const Case &c : cases) {
    Client client;
    ASSERT_TRUE(client.connectTo(port));
    client.sendBytes(c.line);
    EXPECT_TRUE(client.waitForBytes(6 + c.reply.size()));
    EXPECT_EQ("Hello\n" + c.reply, client.received()) << c.line;
  }
  unlink(path);
}

}  // namespace
