// Loopback clients of the login service for the benchmarks, driven by one epoll loop so
// that thousands of connections cost the bench one thread. Every wait is bounded.
#pragma once

#include <string>
#include <vector>

namespace loginbench {

struct Connection {
  int fd = -1;
  std::string in;       // bytes received and not yet consumed
  bool closed = false;  // the server ended the connection (or it failed)
};

class Clients {
 public:
  Clients();
  ~Clients();
  Clients(const Clients &) = delete;
  Clients &operator=(const Clients &) = delete;

  // Opens n connections to port, each greeted before the call returns, with at most
  // pending handshakes outstanding at a time (the server's backlog is small).
  // Answers how many were greeted.
  int openGreeted(int port, int n, int pending, double seconds);

  // Sends text on every open connection, then waits until each has received reply (or was
  // closed). Answers how many received exactly reply.
  int roundTripAll(const std::string &text, const std::string &reply, double seconds);

  // Sends text on every open connection and waits until each is closed by the server.
  // Answers how many were closed.
  int sendAndAwaitClose(const std::string &text, double seconds);

  // Every open connection keeps one login in flight for the given time; answers the logins
  // answered per second.
  double loginRate(const std::string &login, double seconds);

  void closeAll();
  size_t size() const { return conns_.size(); }

 private:
  // Reads what arrived on c; when the peer closed (or the connection failed) marks c closed,
  // stops watching it and answers false.
  bool receive(Connection &c);
  bool pollOnce(int timeoutMs);
  int epoll_ = -1;
  std::vector<Connection> conns_;
};

// n connections opened one after another as fast as one client can, each watched until its
// greeting arrives, then all closed. latencies holds each greeted connection's seconds from
// connect() to its greeting.
struct BurstResult {
  int greeted = 0;
  double seconds = 0;  // from the first connect to the last greeting
  std::vector<double> latencies;
};
BurstResult Burst(int port, int n, double seconds);

// count connect, login, quit cycles against port with `parallel` of them at a time;
// afterEach(done) runs after each finished cycle. Answers the cycles that completed.
template <typename F>
long cycles(int port, long count, int parallel, double seconds, F afterEach);

// Implementation of Cycles without the template: calls back through a function pointer.
long cyclesWith(int port, long count, int parallel, double seconds,
                void (*afterEach)(long done, void *context), void *context);

template <typename F>
long cycles(int port, long count, int parallel, double seconds, F afterEach) {
  return cyclesWith(
      port, count, parallel, seconds, [](long done, void *context) { (*static_cast<F *>(context))(done); },
      &afterEach);
}

}  // namespace loginbench
