// What many clients at once and one client guessing do to the login service: a burst of
// connects is taken without a client waiting for the kernel to retry its SYN, and one address
// that guesses passwords gets about twenty tries and then wrong answers, while another
// address logs in as usual.
#import "ServiceHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using harness::Client;

class Load : public harness::ServiceTest {};

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

// Sends a line and waits for its reply; answers what arrived after what was there before.
std::string ask(Client &client, const std::string &line, size_t replyLength) {
  const size_t before = client.received().size();
  client.sendBytes(line);
  client.waitForBytes(before + replyLength);
  return client.received().substr(before);
}

TEST_F(Load, GuessingIsBoundedPerAddress) {
  testing::internal::CaptureStderr();
  Client guesser;
  ASSERT_TRUE(guesser.connectTo(port_, "127.0.0.1", "127.0.0.1"));
  ASSERT_TRUE(guesser.waitForBytes(6));
  for (int i = 0; i < 20; i++)
    ASSERT_EQ("Error\n", ask(guesser, "auth ro guess" + std::to_string(i) + "\n", 6));
  // Input that is no login costs nothing and is answered as always.
  EXPECT_EQ("Error\n", ask(guesser, "hello\n", 6));
  // Over budget, the right passwords get the wrong one's bytes, on any connection from there.
  EXPECT_EQ("Error\n", ask(guesser, "auth ro secret\n", 6));
  EXPECT_EQ("Error\n", ask(guesser, "auth rw " + std::string(harness::kReadWritePasswordBytes) + "\n", 6));
  Client again;
  ASSERT_TRUE(again.connectTo(port_, "127.0.0.1", "127.0.0.1"));
  ASSERT_TRUE(again.waitForBytes(6));
  EXPECT_EQ("Error\n", ask(again, "auth ro secret\n", 6));

  Client other;
  ASSERT_TRUE(other.connectTo(port_, "127.0.0.1", "127.0.0.2"));
  ASSERT_TRUE(other.waitForBytes(6));
  EXPECT_EQ("OK\n", ask(other, "auth ro secret\n", 3));
  for (int i = 0; i < 3; i++) EXPECT_EQ("Error\n", ask(other, "auth rw typo\n", 6));
  EXPECT_EQ("OK\n", ask(other, "auth rw " + std::string(harness::kReadWritePasswordBytes) + "\n", 3));

  harness::runFor(0.05);
  guesser.poll();
  EXPECT_EQ(6u + 23 * 6, guesser.received().size()) << "nothing more than the replies";
  NSArray *records = [server_ connections];
  ASSERT_EQ(3u, [records count]);
  EXPECT_FALSE([[records objectAtIndex:0] isReadOK]);
  EXPECT_TRUE([[[records objectAtIndex:2] peerAddress] isEqualToString:@"127.0.0.2"]);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ(1u, Count(logged, "Too many wrong passwords")) << logged;
  EXPECT_EQ(1u, Count(logged, "from 127.0.0.1 on the socket login service")) << logged;
}

// A refused attempt is answered at once, but the guesser's next line is read only after a
// pause: one that asks again the moment it is answered must not take the thread from everyone
// else. Only its own connection waits; another address is answered as usual meanwhile.
TEST_F(Load, AGuesserOverBudgetIsReadAtMostTwiceASecond) {
  testing::internal::CaptureStderr();
  Client guesser;
  ASSERT_TRUE(guesser.connectTo(port_, "127.0.0.1", "127.0.0.1"));
  ASSERT_TRUE(guesser.waitForBytes(6));
  for (int i = 0; i < 20; i++) ASSERT_EQ("Error\n", ask(guesser, "auth ro guess\n", 6));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; i++) EXPECT_EQ("Error\n", ask(guesser, "auth ro guess\n", 6));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The first refusal is read at once and the second a pause later; the third comes a pause
  // after that too, unless the budget has refilled by then for one checked (and failed) try.
  EXPECT_GE(seconds, 0.95);

  Client other;
  ASSERT_TRUE(other.connectTo(port_, "127.0.0.1", "127.0.0.2"));
  ASSERT_TRUE(other.waitForBytes(6));
  guesser.sendBytes("auth ro guess\n");
  EXPECT_EQ("OK\n", ask(other, "auth ro secret\n", 3));
  EXPECT_EQ("Error\n", ask(other, "auth ro typo\n", 6));
  testing::internal::GetCapturedStderr();
}

}  // namespace
