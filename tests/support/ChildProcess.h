// Runs a program as a child with its standard output and error captured, for tests that drive
// bookd, kindex and their helpers as black boxes. Every wait is bounded, and the destructor
// kills a child that still runs, so no test leaves a process behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kxtest {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess();

  // argv[0] is the name the child sees; path is what runs. env holds "NAME=value" entries set
  // in the child only. Standard input is /dev/null.
  bool start(const std::string &path, const std::vector<std::string> &argv,
             const std::vector<std::string> &env = {});
  // Until standard error holds text; false when the child ended or the time ran out first.
  bool waitForError(const std::string &text, double seconds);
  // Until the child ends; false when the time ran out first.
  bool waitForExit(double seconds);
  void kill();

  bool running() const { return pid_ > 0 && !exited_; }
  int status() const { return status_; }  // exit status; -1 when ended by a signal
  const std::string &output() const { return out_; }
  const std::string &error() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  void pump(int timeoutMs);
  void reap(bool block);

  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string out_, err_;
};

}  // namespace kxtest
