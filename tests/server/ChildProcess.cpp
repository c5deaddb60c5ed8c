#include "ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace {
double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

ChildProcess::~ChildProcess() {
  kill();
  if (errFd_ >= 0) close(errFd_);
  if (outFd_ >= 0) close(outFd_);
}

bool ChildProcess::start(const std::string &path, const std::vector<std::string> &argv) {
  int errPipe[2], outPipe[2];
  if (pipe(errPipe) != 0) return false;
  if (pipe(outPipe) != 0) return false;
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    dup2(errPipe[1], 2);
    dup2(outPipe[1], 1);
    close(errPipe[0]);
    close(outPipe[0]);
    close(errPipe[1]);
    close(outPipe[1]);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(path.c_str(), args.data());
    _exit(127);
  }
  close(errPipe[1]);
  close(outPipe[1]);
  errFd_ = errPipe[0];
  outFd_ = outPipe[0];
  return true;
}

void ChildProcess::pump(int timeoutMs) {
  pollfd fds[2] = {{errFd_, POLLIN, 0}, {outFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  char buffer[4096];
  if (fds[0].revents & (POLLIN | POLLHUP)) {
    ssize_t n = read(errFd_, buffer, sizeof buffer);
    if (n > 0) err_.append(buffer, n);
  }
  if (fds[1].revents & (POLLIN | POLLHUP)) {
    ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n > 0) out_.append(buffer, n);
  }
}

void ChildProcess::reap(bool block) {
  if (pid_ <= 0 || exited_) return;
  int raw = 0;
  if (waitpid(pid_, &raw, block ? 0 : WNOHANG) == pid_) {
    exited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    // Collect whatever the child wrote before it ended.
    for (int i = 0; i < 100; i++) {
      size_t before = err_.size() + out_.size();
      pump(0);
      if (err_.size() + out_.size() == before) break;
    }
  }
}

bool ChildProcess::waitForError(const std::string &text, double seconds) {
  double deadline = Now() + seconds;
  while (err_.find(text) == std::string::npos) {
    if (!running() || Now() > deadline) return false;
    pump(50);
    reap(false);
  }
  return true;
}

bool ChildProcess::waitForExit(double seconds) {
  double deadline = Now() + seconds;
  while (running()) {
    if (Now() > deadline) return false;
    pump(50);
    reap(false);
  }
  return true;
}

void ChildProcess::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  reap(true);
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

std::string MakeTempDir(const std::string &prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char *made = mkdtemp(buffer.data());
  return made ? std::string(made) : std::string();
}

void RemoveTree(const std::string &path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::vector<std::pair<std::string, std::string>> ReadTree(const std::string &dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    files.emplace_back(std::filesystem::relative(entry.path(), dir).string(), bytes.str());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace testing_support
