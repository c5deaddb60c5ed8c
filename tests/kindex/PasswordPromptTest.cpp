// A password typed for --server must not show on the screen, and the terminal must echo again
// afterwards; kindex is run on a pseudo-terminal of the test's own to see both.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "LoopbackPort.h"

namespace {

// Reads from the terminal until text shows up or the time runs out.
bool readUntil(int fd, std::string &seen, const std::string &text, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (seen.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return seen.find(text) != std::string::npos;
    seen.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

TEST(PasswordPrompt, AsksOnTheTerminalWithoutEcho) {
  // Nothing listens on the port: the password is asked for first, then the connection fails.
  std::string address = "127.0.0.1:" + std::to_string(kxtest::freePort());
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(KINDEX_PATH, "kindex", "--server", address.c_str(), "list", static_cast<char *>(nullptr));
    _exit(127);
  }
  std::string seen;
  bool prompted = readUntil(master, seen, "Password for " + address + ": ", 20);
  EXPECT_TRUE(prompted) << seen;
  if (prompted) {
    const char typed[] = "Sup3rSecret\n";
    ASSERT_EQ(write(master, typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
    EXPECT_TRUE(readUntil(master, seen, "no address-book server answers", 20)) << seen;
  }
  struct termios after;
  bool haveModes = tcgetattr(master, &after) == 0;

  int raw = 0;
  for (int i = 0; i < 200 && waitpid(pid, &raw, WNOHANG) == 0; ++i) usleep(50 * 1000);
  if (waitpid(pid, &raw, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &raw, 0);
    ADD_FAILURE() << "kindex did not end";
  }
  close(master);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << seen;
  EXPECT_EQ(seen.find("Sup3rSecret"), std::string::npos) << "the password was echoed: " << seen;
  if (haveModes) {
    EXPECT_TRUE(after.c_lflag & ECHO) << "echo was left off";
  }
}
