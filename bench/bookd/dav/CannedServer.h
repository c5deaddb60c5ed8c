// The floor of an HTTP exchange on loopback: a child process that reads each request in full
// (headers and Content-Length body) and answers it with the same bytes every time, doing
// nothing else. The time a client takes to get a server's answer from it is what moving those
// bytes costs, with no server work in it.
#pragma once

#include <sys/types.h>

#include <string>

namespace davbench {

class CannedServer {
 public:
  CannedServer() = default;
  CannedServer(const CannedServer &) = delete;
  CannedServer &operator=(const CannedServer &) = delete;
  ~CannedServer();

  // Answers every request with this status and body; false when no port could be had.
  bool start(int status, const std::string &contentType, const std::string &body);
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace davbench
