#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace kxtest {

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ChildProcess::~ChildProcess() {
  kill();
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool ChildProcess::start(const std::string &path, const std::vector<std::string> &argv,
                         const std::vector<std::string> &env) {
  int out[2], err[2];
  if (pipe(out) != 0) return false;
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return false;
  }
  pid_ = fork();
  if (pid_ < 0) {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    return false;
  }
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(path.c_str(), args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  return true;
}

void ChildProcess::pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  char buffer[65536];
  std::string *sinks[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) sinks[i]->append(buffer, static_cast<size_t>(n));
  }
}

void ChildProcess::reap(bool block) {
  if (!running()) return;
  int raw = 0;
  if (waitpid(pid_, &raw, block ? 0 : WNOHANG) != pid_) return;
  exited_ = true;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  // Whatever the child wrote before it ended is still in the pipes.
  for (int i = 0; i < 1000; ++i) {
    size_t before = out_.size() + err_.size();
    pump(0);
    if (out_.size() + err_.size() == before) break;
  }
}

bool ChildProcess::waitForError(const std::string &text, double seconds) {
  double deadline = now() + seconds;
  while (err_.find(text) == std::string::npos) {
    if (!running() || now() > deadline) return false;
    pump(50);
    reap(false);
  }
  return true;
}

bool ChildProcess::waitForExit(double seconds) {
  double deadline = now() + seconds;
  while (running()) {
    if (now() > deadline) return false;
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

}  // namespace kxtest
