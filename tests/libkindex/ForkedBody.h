// Another process on the same book: a body of test code run in a forked child, for tests of
// what several processes see of one book.
#pragma once

#import <Foundation/Foundation.h>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs body in a child process; the child's exit status is 0 when body gave true.
// The child leaves with _exit so that nothing of the parent (temp dirs) is cleaned twice.
inline pid_t spawn(const std::function<bool()> &body) {
  pid_t pid = fork();
  if (pid == 0) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    bool ok = body();
    [pool release];
    _exit(ok ? 0 : 1);
  }
  return pid;
}

// The same for a body that gives its own exit status (0 to 255), for a child that reports a
// number such as an error code.
inline pid_t spawnCode(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    int code = body();
    [pool release];
    _exit(code);
  }
  return pid;
}

// Waits for the child to end; its exit status, or -1 when it did not exit normally.
inline int waitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
