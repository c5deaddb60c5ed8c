// Runs kindex or bookd as a child with its standard output and error captured. Every wait is
// bounded, and the destructor kills a child that still runs, so no test leaves one behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kxtool {

class ChildRun {
 public:
  ChildRun() = default;
  ChildRun(const ChildRun &) = delete;
  ChildRun &operator=(const ChildRun &) = delete;
  ~ChildRun();

  // argv[0] is the name the child sees; path is what runs. Standard input is /dev/null.
  bool start(const std::string &path, const std::vector<std::string> &argv);
  // Until standard error holds text; false when the child ended or the time ran out first.
  bool waitForError(const std::string &text, double seconds);
  // Until the child ends; false when the time ran out first.
  bool waitForExit(double seconds);
  void kill();

  int status() const { return status_; }  // exit status; -1 when ended by a signal
  const std::string &output() const { return out_; }
  const std::string &error() const { return err_; }

 private:
  bool running() const { return pid_ > 0 && !exited_; }
  void pump(int timeoutMs);
  void reap(bool block);

  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string out_, err_;
};

// A loopback TCP port that was free a moment ago.
int freePort();

}  // namespace kxtool
