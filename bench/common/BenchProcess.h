// Runs a program as a child and measures what it cost: wall time, and peak resident memory
// as the kernel accounted it for that child alone. Also starts and stops the servers a
// benchmark runs against.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

struct ChildCost {
  double seconds = 0;
  long peakKiB = 0;
  int status = -1;  // exit status, or -1 when the child did not exit normally
};

// envAdd holds "NAME=value" entries set in the child only; output goes to /dev/null unless keepOutput.
inline ChildCost runChild(const std::vector<std::string> &argv, const std::vector<std::string> &envAdd = {},
                          bool keepOutput = false) {
  ChildCost cost;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto &e : envAdd) putenv(const_cast<char *>(e.c_str()));
    if (!keepOutput && freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.peakKiB = usage.ru_maxrss;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return cost;
}

// Starts argv[0] with argv as a server that runs until stop(); its log (standard error) goes
// to /dev/null, so that a benchmark's output is its lines alone.
inline pid_t spawnQuiet(const std::vector<std::string> &argv) {
  pid_t pid = fork();
  if (pid == 0) {
    if (freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Kills and reaps a child from spawnQuiet (or any fork); nothing for pid <= 0.
inline void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

inline double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace bench
