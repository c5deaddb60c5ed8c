#include "CannedServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "BenchProcess.h"
#include "LoopbackPort.h"

namespace davbench {

namespace {

bool sendAll(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Serves one kept-alive connection until the client closes it.
void serve(int fd, const std::string &answer) {
  std::string buffer;
  char chunk[1 << 16];
  for (;;) {
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    size_t length = 0;
    const char *field = strcasestr(buffer.substr(0, headEnd).c_str(), "\r\ncontent-length:");
    if (field != nullptr) length = std::strtoul(field + 17, nullptr, 10);
    while (buffer.size() < headEnd + 4 + length) {
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    buffer.erase(0, headEnd + 4 + length);
    if (!sendAll(fd, answer)) return;
  }
}

}  // namespace

CannedServer::~CannedServer() {
  bench::stop(pid_);
}

bool CannedServer::start(int status, const std::string &contentType, const std::string &body) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = kxtest::loopbackAddress(0);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
    if (listener >= 0) close(listener);
    return false;
  }
  port_ = ntohs(address.sin_port);
  const std::string answer = "HTTP/1.1 " + std::to_string(status) +
                             " Canned\r\nContent-Type: " + contentType +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  pid_ = fork();
  if (pid_ == 0) {
    for (;;) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      serve(fd, answer);
      close(fd);
    }
  }
  close(listener);
  return pid_ > 0;
}

}  // namespace davbench
