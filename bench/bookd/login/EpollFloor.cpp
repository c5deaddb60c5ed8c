#include "EpollFloor.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

#include "login/LoginCommand.h"

namespace loginbench {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(const char *bytes, size_t length) {
  size_t begin = 0, end = login::lengthUpToZero(bytes, length);
  while (begin < end && isBlank(bytes[begin])) begin++;
  while (end > begin && isBlank(bytes[end - 1])) end--;
  return std::string(bytes + begin, end - begin);
}

void Send(int fd, const char *text) {
  send(fd, text, std::strlen(text), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

void runFloorServer(int listenFd, const char *roPwd, const char *rwPwd) {
  const std::string ro = roPwd, rw = rwPwd;
  std::unordered_map<int, login::Flags> flags;
  int ep = epoll_create1(0);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listenFd;
  epoll_ctl(ep, EPOLL_CTL_ADD, listenFd, &event);
  epoll_event events[256];
  char buffer[65536];
  for (;;) {
    int n = epoll_wait(ep, events, 256, -1);
    for (int i = 0; i < n; i++) {
      const int fd = events[i].data.fd;
      if (fd == listenFd) {
        int conn = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK);
        if (conn < 0) continue;
        int one = 1;
        setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        flags[conn] = login::Flags{};
        Send(conn, login::hello);
        epoll_event add{};
        add.events = EPOLLIN;
        add.data.fd = conn;
        epoll_ctl(ep, EPOLL_CTL_ADD, conn, &add);
        continue;
      }
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      bool end = got <= 0;
      if (!end) {
        const std::string input = trimmed(buffer, static_cast<size_t>(got));
        login::Outcome outcome = login::interpret(&input, &ro, &rw, flags[fd]);
        if (outcome.close) {
          end = true;
        } else {
          flags[fd] = outcome.flags;
          Send(fd, outcome.reply);
        }
      }
      if (end) {
        flags.erase(fd);
        close(fd);  // also leaves the epoll set
      }
    }
  }
}

}  // namespace loginbench
