// Runs a program as a child with its standard error (and output) captured, for tests that
// drive bookd and its helpers as black boxes. Every wait is bounded; the destructor kills
// a child that is still running, so no test leaves a process behind.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

namespace testing_support {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess();

  // argv[0] is the name the child sees; path is what is executed.
  bool start(const std::string &path, const std::vector<std::string> &argv);
  // Reads output until the captured standard error contains text, the child exits, or the
  // deadline passes. true when the text showed up.
  bool waitForError(const std::string &text, double seconds);
  // Waits for the child to end on its own; false when the deadline passed first.
  bool waitForExit(double seconds);
  void kill();

  bool running() const { return pid_ > 0 && !exited_; }
  int status() const { return status_; }           // exit status, -1 if killed by a signal
  const std::string &error() const { return err_; }
  const std::string &output() const { return out_; }
  pid_t pid() const { return pid_; }

 private:
  void pump(int timeoutMs);
  void reap(bool block);

  pid_t pid_ = -1;
  int errFd_ = -1;
  int outFd_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string err_;
  std::string out_;
};

// A TCP port on 127.0.0.1 that was free a moment ago (bound to 0, then released).
int FreePort();

// A fresh directory under the system's temporary directory; removed by RemoveTree.
std::string MakeTempDir(const std::string &prefix);
void RemoveTree(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
// Every regular file below dir, by relative path, with its bytes.
std::vector<std::pair<std::string, std::string>> ReadTree(const std::string &dir);

}  // namespace testing_support
