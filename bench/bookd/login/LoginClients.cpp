#include "LoginClients.h"

#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loginbench {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int connectNonBlocking(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address = kxtest::loopbackAddress(port);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads what is there; false when the peer closed or the connection failed.
bool drain(Connection &c) {
  char buffer[4096];
  for (;;) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      c.in.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool sendAll(int fd, const std::string &text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Takes prefix off the front of in when it is there.
bool consume(std::string &in, const std::string &prefix) {
  if (in.compare(0, prefix.size(), prefix) != 0) return false;
  in.erase(0, prefix.size());
  return true;
}

}  // namespace

BurstResult Burst(int port, int n, double seconds) {
  BurstResult result;
  const int epoll = epoll_create1(0);
  std::vector<Connection> conns(static_cast<size_t>(n));
  std::vector<Clock::time_point> started(static_cast<size_t>(n));
  const Clock::time_point start = Clock::now();
  auto collect = [&](int timeoutMs) {
    epoll_event events[256];
    const int ready = epoll_wait(epoll, events, 256, timeoutMs);
    for (int i = 0; i < ready; i++) {
      Connection &c = conns[events[i].data.u32];
      const bool open = drain(c);
      if (consume(c.in, "Hello\n")) {
        result.latencies.push_back(Since(started[events[i].data.u32]));
        result.greeted++;
        epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
      } else if (!open) {
        epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
        c.closed = true;
      }
    }
  };
  for (int i = 0; i < n && Since(start) < seconds; i++) {
    started[i] = Clock::now();
    conns[i].fd = connectNonBlocking(port);
    if (conns[i].fd < 0) continue;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(epoll, EPOLL_CTL_ADD, conns[i].fd, &event);
    collect(0);
  }
  while (result.greeted < n && Since(start) < seconds) collect(50);
  result.seconds = Since(start);
  for (Connection &c : conns)
    if (c.fd >= 0) close(c.fd);
  close(epoll);
  return result;
}

Clients::Clients() : epoll_(epoll_create1(0)) {}

Clients::~Clients() {
  closeAll();
  close(epoll_);
}

void Clients::closeAll() {
  for (Connection &c : conns_) close(c.fd);
  conns_.clear();
}

bool Clients::receive(Connection &c) {
  if (drain(c)) return true;
  c.closed = true;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
  return false;
}

// Index of the connection is the epoll cookie.
bool Clients::pollOnce(int timeoutMs) {
  epoll_event events[256];
  int n = epoll_wait(epoll_, events, 256, timeoutMs);
  for (int i = 0; i < n; i++) {
    Connection &c = conns_[events[i].data.u64];
    if (!c.closed) receive(c);
  }
  return n > 0;
}

int Clients::openGreeted(int port, int n, int pending, double seconds) {
  const auto start = Clock::now();
  const size_t first = conns_.size();
  int greeted = 0;
  while (greeted < n && Since(start) < seconds) {
    while (static_cast<int>(conns_.size() - first) < n &&
           static_cast<int>(conns_.size() - first) - greeted < pending) {
      Connection c;
      c.fd = connectNonBlocking(port);
      if (c.fd < 0) return greeted;
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = conns_.size();
      epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &event);
      conns_.push_back(c);
    }
    pollOnce(10);
    greeted = 0;
    for (size_t i = first; i < conns_.size(); i++)
      if (conns_[i].in.size() >= 6 || conns_[i].closed) greeted++;
  }
  int good = 0;
  for (size_t i = first; i < conns_.size(); i++)
    if (!conns_[i].closed && consume(conns_[i].in, "Hello\n")) good++;
  return good;
}

int Clients::roundTripAll(const std::string &text, const std::string &reply, double seconds) {
  for (Connection &c : conns_)
    if (!c.closed && !sendAll(c.fd, text)) c.closed = true;
  const auto start = Clock::now();
  auto done = [&] {
    for (const Connection &c : conns_)
      if (!c.closed && c.in.size() < reply.size()) return false;
    return true;
  };
  while (!done() && Since(start) < seconds) pollOnce(10);
  int good = 0;
  for (Connection &c : conns_)
    if (!c.closed && consume(c.in, reply)) good++;
  return good;
}

int Clients::sendAndAwaitClose(const std::string &text, double seconds) {
  for (Connection &c : conns_)
    if (!c.closed) sendAll(c.fd, text);
  const auto start = Clock::now();
  auto done = [&] {
    for (const Connection &c : conns_)
      if (!c.closed) return false;
    return true;
  };
  while (!done() && Since(start) < seconds) pollOnce(10);
  int closed = 0;
  for (const Connection &c : conns_)
    if (c.closed && c.in.empty()) closed++;
  return closed;
}

double Clients::loginRate(const std::string &login, double seconds) {
  for (Connection &c : conns_)
    if (!c.closed) sendAll(c.fd, login);
  long answered = 0;
  const auto start = Clock::now();
  epoll_event events[256];
  while (Since(start) < seconds) {
    int n = epoll_wait(epoll_, events, 256, 10);
    for (int i = 0; i < n; i++) {
      Connection &c = conns_[events[i].data.u64];
      if (c.closed || !receive(c)) continue;
      while (consume(c.in, "OK\n")) {
        answered++;
        sendAll(c.fd, login);
      }
    }
  }
  const double elapsed = Since(start);
  // Let the logins still in flight land, so that the connections can be used again.
  const auto settle = Clock::now();
  while (Since(settle) < 0.2) pollOnce(10);
  for (Connection &c : conns_) {
    while (consume(c.in, "OK\n")) {
    }
  }
  return answered / elapsed;
}

long cyclesWith(int port, long count, int parallel, double seconds,
                void (*afterEach)(long done, void *context), void *context) {
  enum class Step { Greeting, Login, Quit };
  struct Slot {
    Connection c;
    Step step = Step::Greeting;
  };
  int ep = epoll_create1(0);
  std::vector<Slot> slots(static_cast<size_t>(parallel));
  long started = 0, done = 0;
  auto begin = [&](size_t i) {
    Slot &s = slots[i];
    s = Slot();
    s.c.fd = -1;
    if (started >= count) return;
    for (int attempt = 0; attempt < 100 && s.c.fd < 0; attempt++) s.c.fd = connectNonBlocking(port);
    if (s.c.fd < 0) return;
    started++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = i;
    epoll_ctl(ep, EPOLL_CTL_ADD, s.c.fd, &event);
  };
  for (size_t i = 0; i < slots.size(); i++) begin(i);
  const auto start = Clock::now();
  epoll_event events[256];
  while (done < count && Since(start) < seconds) {
    int n = epoll_wait(ep, events, 256, 10);
    for (int e = 0; e < n; e++) {
      const size_t i = events[e].data.u64;
      Slot &s = slots[i];
      const bool open = drain(s.c);
      bool finished = false, failed = !open;
      if (s.step == Step::Greeting && consume(s.c.in, "Hello\n")) {
        failed = !sendAll(s.c.fd, "auth ro secret\n");
        s.step = Step::Login;
      }
      if (s.step == Step::Login && consume(s.c.in, "OK\n")) {
        failed = !sendAll(s.c.fd, "quit\n");
        s.step = Step::Quit;
      }
      if (s.step == Step::Quit && !open && s.c.in.empty()) {
        finished = true;
        failed = false;
      }
      if (finished || failed) {
        epoll_ctl(ep, EPOLL_CTL_DEL, s.c.fd, nullptr);
        close(s.c.fd);
        if (!finished) started--;  // tried again
        if (finished) {
          done++;
          afterEach(done, context);
        }
        begin(i);
      }
    }
  }
  for (Slot &s : slots)
    if (s.c.fd >= 0) close(s.c.fd);
  close(ep);
  return done;
}

}  // namespace loginbench
