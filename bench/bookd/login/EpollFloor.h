// The floor for the login benchmarks: the same protocol answered by a minimal single-
// threaded epoll server, with the same command interpreter as bookd and nothing else.
#pragma once

namespace loginbench {

// Serves the login protocol on listenFd until the process is killed; never returns.
[[noreturn]] void runFloorServer(int listenFd, const char *roPwd, const char *rwPwd);

}  // namespace loginbench
