// Clients that misbehave must cost only their own connection: resets at every stage, a
// flood without a line break, random bytes, a client that never reads its replies, and a
// process out of descriptors. After each, a well-behaved client is still greeted and logged in.
#import "ServiceHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using harness::Client;

class Faults : public harness::ServiceTest {
 protected:
  // A fresh client that is greeted, logs in and quits, leaving no record behind.
  void expectWellBehavedClientServed() {
    const NSUInteger before = openConnections();
    Client good;
    ASSERT_TRUE(good.connectTo(port_));
    ASSERT_TRUE(good.waitForBytes(6));
    good.sendBytes("auth ro secret\n");
    ASSERT_TRUE(good.waitForBytes(9));
    EXPECT_EQ("Hello\nOK\n", good.received());
    good.sendBytes("quit\n");
    EXPECT_TRUE(good.waitForClose());
    EXPECT_TRUE(harness::runUntil([&] { return openConnections() == before; }));
  }
};

TEST_F(Faults, ResetsAtAnyStageEndOnlyThatConnection) {
  struct Case {
    const char *name;
    void (*misbehave)(Client &);
  } cases[] = {
      {"reset before the greeting", [](Client &c) { c.resetNow(); }},
      {"reset right after sending",
       [](Client &c) {
         c.sendBytes("auth ro secret\n");
         c.resetNow();
       }},
      {"reset after the greeting, while its reply is due",
       [](Client &c) {
         c.waitForBytes(6);
         c.sendBytes("auth ro secret\n");
         c.resetNow();
       }},
      {"reset in the middle of a stream of replies",
       [](Client &c) {
         c.waitForBytes(6);
         for (int i = 0; i < 50; i++) {
           c.sendBytes("x\n");
           harness::runFor(0.0005);
         }
         c.resetNow();
       }},
  };
  Client bystander;  // logged in before the trouble, served after it
  ASSERT_TRUE(bystander.connectTo(port_));
  bystander.sendBytes("auth rw " + std::string(harness::kReadWritePasswordBytes) + "\n");
  ASSERT_TRUE(bystander.waitForBytes(9));

  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Client> clients(20);
    for (Client &client : clients) {
      ASSERT_TRUE(client.connectTo(port_));
      c.misbehave(client);
      harness::runOnce();
    }
    EXPECT_TRUE(harness::runUntil([&] { return openConnections() == 1; })) << openConnections();
    expectWellBehavedClientServed();
  }
  bystander.sendBytes("auth ro secret\n");
  EXPECT_TRUE(bystander.waitForBytes(12));
  EXPECT_EQ("Hello\nOK\nOK\n", bystander.received());
  ASSERT_EQ(1u, openConnections());
  EXPECT_TRUE([[[server_ connections] objectAtIndex:0] isReadOK]);
  EXPECT_FALSE([[[server_ connections] objectAtIndex:0] isWriteOK]);
}

// Every read is one input however long; nothing piles up waiting for a line break.
TEST_F(Faults, MegabyteWithoutLineBreakIsAnsweredReadByRead) {
  Client flood;
  ASSERT_TRUE(flood.connectTo(port_));
  flood.sendBytes(std::string(1 << 20, 'a'));
  flood.waitForQuiet(0.2);
  const std::string &replies = flood.received();
  ASSERT_GE(replies.size(), 12u);
  ASSERT_EQ(0u, (replies.size() - 6) % 6);
  for (size_t at = 6; at < replies.size(); at += 6) ASSERT_EQ("Error\n", replies.substr(at, 6)) << at;
  const size_t before = replies.size();
  flood.sendBytes("auth ro secret\n");
  ASSERT_TRUE(flood.waitForBytes(before + 3));
  EXPECT_EQ("OK\n", flood.received().substr(before));
  expectWellBehavedClientServed();
}

TEST_F(Faults, RandomBytesAreErrorsOnly) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> byte(0, 255), size(1, 4096);
  for (int round = 0; round < 8; round++) {
    Client noise;
    ASSERT_TRUE(noise.connectTo(port_));
    for (int chunk = 0; chunk < 16; chunk++) {
      std::string bytes(static_cast<size_t>(size(random)), '\0');
      for (char &b : bytes) b = static_cast<char>(byte(random));
      bytes[0] = 'x';  // no chunk may begin as a "quit"
      noise.sendBytes(bytes);
      harness::runFor(0.001);
    }
    noise.waitForBytes(12);
    noise.poll();
    const std::string &replies = noise.received();
    ASSERT_GE(replies.size(), 12u);
    EXPECT_EQ("Hello\n", replies.substr(0, 6));
    for (size_t at = 6; at + 6 <= replies.size(); at += 6) ASSERT_EQ("Error\n", replies.substr(at, 6));
    noise.closeNow();
    ASSERT_TRUE(harness::runUntil([&] { return openConnections() == 0; }));
  }
  expectWellBehavedClientServed();
}

// A client that sends and never reads would fill its socket's buffers; the server must not
// wait for it (it would stop serving everyone), so the connection ends instead.
TEST_F(Faults, ClientThatNeverReadsIsDropped) {
  Client stalled;
  ASSERT_TRUE(stalled.open());
  int small = 1024;
  setsockopt(stalled.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(stalled.connectTo(port_));
  ASSERT_TRUE(harness::runUntil([&] { return openConnections() == 1; }));
  Client bystander;
  ASSERT_TRUE(bystander.connectTo(port_));
  ASSERT_TRUE(bystander.waitForBytes(6));

  const auto start = std::chrono::steady_clock::now();
  int inputs = 0;
  while (openConnections() == 2 && inputs < 400000 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
    if (send(stalled.fd(), "x\n", 2, MSG_NOSIGNAL | MSG_DONTWAIT) == 2) inputs++;
    harness::runOnce();
  }
  EXPECT_EQ(1u, openConnections()) << "after " << inputs << " inputs";
  bystander.sendBytes("auth ro secret\n");
  EXPECT_TRUE(bystander.waitForBytes(9));
  EXPECT_EQ("Hello\nOK\n", bystander.received());
}

// Out of descriptors, accepts fail: that is said once, the open connections are still
// served, nothing spins, and waiting clients are greeted once descriptors are free again.
TEST_F(Faults, FailedAcceptsAreLoggedOnceAndRecover) {
  Client early;
  ASSERT_TRUE(early.connectTo(port_));
  ASSERT_TRUE(early.waitForBytes(6));
  Client waiting[2];
  for (Client &c : waiting) ASSERT_TRUE(c.open());
  testing::internal::CaptureStderr();

  rlimit limit{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  const rlimit saved = limit;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4096);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
  std::vector<int> filler;
  for (int fd; (fd = dup(0)) >= 0;) filler.push_back(fd);
  ASSERT_EQ(EMFILE, errno);

  // Connecting needs no new descriptor on our side; accepting one does on the server's.
  for (Client &c : waiting) ASSERT_TRUE(c.connectTo(port_));
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  harness::runFor(0.5);
  getrusage(RUSAGE_SELF, &after);
  const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                     (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                     (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                     (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
  EXPECT_LT(cpu, 0.25) << "the failing accept spins";

  early.sendBytes("auth ro secret\n");
  EXPECT_TRUE(early.waitForBytes(9));
  EXPECT_EQ("Hello\nOK\n", early.received());

  for (int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  for (Client &c : waiting) {
    EXPECT_TRUE(c.waitForBytes(6));
    EXPECT_EQ("Hello\n", c.received());
  }
  const std::string logged = testing::internal::GetCapturedStderr();
  size_t failures = 0;
  for (size_t at = logged.find("Couldn't accept"); at != std::string::npos;
       at = logged.find("Couldn't accept", at + 1))
    failures++;
  EXPECT_EQ(1u, failures) << logged;
  EXPECT_NE(std::string::npos, logged.find("Accepting connections again")) << logged;
  expectWellBehavedClientServed();
}

// Only the service's own connections are read: data announced by any other handle is
// logged and left alone.
TEST_F(Faults, DataOnAHandleWithoutRecordIsLoggedAndLeftAlone) {
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  NSFileHandle *stranger = [[NSFileHandle alloc] initWithFileDescriptor:pair[0] closeOnDealloc:NO];
  ASSERT_EQ(15, send(pair[1], "auth ro secret\n", 15, 0));
  testing::internal::CaptureStderr();
  [[NSNotificationCenter defaultCenter] postNotificationName:NSFileHandleDataAvailableNotification
                                                      object:stranger];
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, logged.find("Huh?! Couldn't find auth object")) << logged;
  char buffer[32];
  EXPECT_EQ(-1, recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT));  // no reply
  EXPECT_EQ(15, recv(pair[0], buffer, sizeof buffer, MSG_DONTWAIT));  // nothing was read
  EXPECT_EQ(0u, openConnections());
  [stranger release];
  close(pair[0]);
  close(pair[1]);
  expectWellBehavedClientServed();
}

}  // namespace
