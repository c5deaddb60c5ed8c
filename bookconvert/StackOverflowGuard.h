// While it lives, turns a crash into the converter's own error line and exit status 1.
//
// GNUstep's unarchiver decodes nested arrays by recursion, so a small archive of arrays
// nested some tens of thousands deep overflows the stack inside GNUstep, where no bound of
// ours applies. The guard catches SIGSEGV and SIGBUS on a stack of its own, writes the
// line prepared beforehand, and ends the process; nothing has reached the shared book by
// then, since the archive is read before the book is opened.
#pragma once

#include <csignal>
#include <string>

class StackOverflowGuard {
 public:
  // errorLine is written, with a newline, if the process crashes while the guard lives.
  explicit StackOverflowGuard(const std::string &errorLine);
  ~StackOverflowGuard();
  StackOverflowGuard(const StackOverflowGuard &) = delete;
  StackOverflowGuard &operator=(const StackOverflowGuard &) = delete;

 private:
  struct sigaction previousSegv_;
  struct sigaction previousBus_;
  stack_t previousStack_;
};
