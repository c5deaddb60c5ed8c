#include "PasswordInput.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kindex {

bool readPasswordFile(const std::string &path, std::string &password, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    error = "cannot read the password file " + path + ": " + std::strerror(errno);
    return false;
  }
  password = content.str();
  if (!password.empty() && password.back() == '\n') password.pop_back();
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

namespace {

// The terminal's settings while echo is off, for the signal handler to put back.
int gTerminal = -1;
struct termios gSaved;

void restoreTerminalAndDie(int sig) {
  if (gTerminal >= 0) tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

bool readPasswordFromTerminal(const std::string &prompt, std::string &password, std::string &error) {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "no terminal to ask for the password on; use --password-file FILE";
    return false;
  }
  struct termios quiet;
  if (tcgetattr(fd, &gSaved) != 0) {
    close(fd);
    error = "no terminal to ask for the password on; use --password-file FILE";
    return false;
  }
  quiet = gSaved;
  quiet.c_lflag &= ~(ECHO | ECHONL);
  quiet.c_lflag |= ICANON;
  gTerminal = fd;
  void (*oldInt)(int) = signal(SIGINT, restoreTerminalAndDie);
  void (*oldTerm)(int) = signal(SIGTERM, restoreTerminalAndDie);
  void (*oldHup)(int) = signal(SIGHUP, restoreTerminalAndDie);
  tcsetattr(fd, TCSAFLUSH, &quiet);
  ssize_t ignored = write(fd, prompt.data(), prompt.size());
  (void)ignored;

  std::string line;
  bool ended = false;
  char c;
  while (true) {
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    line += c;
  }
  tcsetattr(fd, TCSAFLUSH, &gSaved);
  ignored = write(fd, "\n", 1);
  gTerminal = -1;
  signal(SIGINT, oldInt);
  signal(SIGTERM, oldTerm);
  signal(SIGHUP, oldHup);
  close(fd);
  if (!ended && line.empty()) {
    error = "no password given";
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  password = line;
  return true;
}

}  // namespace kindex
