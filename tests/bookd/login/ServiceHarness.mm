#import "ServiceHarness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harness {

const char kReadWritePasswordBytes[] = "\trw-p\xc3\xa4sswort";

NSString *ReadOnlyPassword() {
  return @"secret";
}

NSString *ReadWritePassword() {
  static NSString *password = [[NSString alloc] initWithUTF8String:kReadWritePasswordBytes];
  return password;
}

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void runOnce(double seconds) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                           beforeDate:[NSDate dateWithTimeIntervalSinceNow:seconds]];
  [pool release];
}

bool runUntil(const std::function<bool()> &done, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (secondsSince(start) > seconds) return done();
    runOnce(0.005);
  }
  return true;
}

void runFor(double seconds) {
  const auto start = std::chrono::steady_clock::now();
  while (secondsSince(start) < seconds) runOnce(0.005);
}

AddressBookServer *newServer(int port, NSString *address) {
  return [[AddressBookServer alloc] initWithAddressBook:nil
                                       readOnlyPassword:ReadOnlyPassword()
                                      readWritePassword:ReadWritePassword()
                                     socketServerAtPort:port
                                          listenAddress:address];
}

void ServiceTest::SetUp() {
  pool_ = [NSAutoreleasePool new];
  server_ = newServer();
  port_ = [server_ loginServicePort];
  ASSERT_GT(port_, 0);
}

void ServiceTest::TearDown() {
  [server_ release];
  [pool_ release];
}

NSUInteger ServiceTest::openConnections() {
  return [[server_ connections] count];
}

Client::~Client() {
  closeNow();
}

bool Client::open(int family) {
  if (fd_ < 0) fd_ = socket(family, SOCK_STREAM, 0);
  return fd_ >= 0;
}

namespace {

// The address and port as a socket address of its family; false when it is no address.
bool socketAddress(const std::string &text, int port, sockaddr_storage &address, socklen_t &length) {
  address = sockaddr_storage{};
  sockaddr_in *v4 = reinterpret_cast<sockaddr_in *>(&address);
  sockaddr_in6 *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
    return true;
  }
  return false;
}

}  // namespace

bool Client::connectTo(int port, const std::string &to, const std::string &from) {
  sockaddr_storage address;
  socklen_t length = 0;
  if (!socketAddress(to, port, address, length) || !open(address.ss_family)) return false;
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (!from.empty()) {
    sockaddr_storage source;
    socklen_t sourceLength = 0;
    if (!socketAddress(from, 0, source, sourceLength) ||
        bind(fd_, reinterpret_cast<sockaddr *>(&source), sourceLength) != 0)
      return false;
  }
  // Without blocking: a full backlog only empties while this thread runs the server.
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  if (connect(fd_, reinterpret_cast<sockaddr *>(&address), length) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd wanted{fd_, POLLOUT, 0};
  // On loopback the handshake is the kernel's alone, unless the backlog is full.
  if (::poll(&wanted, 1, 20) == 0) runUntil([&] { return ::poll(&wanted, 1, 0) != 0; });
  int failure = 0;
  socklen_t failureLength = sizeof failure;
  getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &failureLength);
  return (wanted.revents & POLLOUT) != 0 && failure == 0;
}

void Client::sendBytes(const std::string &bytes) {
  size_t sent = 0;
  const auto start = std::chrono::steady_clock::now();
  while (sent < bytes.size() && secondsSince(start) < 10) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      // The server drains our bytes only while its run loop runs: let it.
      poll();
      runOnce(0.001);
    } else {
      return;
    }
  }
}

void Client::resetNow() {
  if (fd_ < 0) return;
  linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(fd_);
  fd_ = -1;
}

void Client::closeNow() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

void Client::poll() {
  if (fd_ < 0 || peerClosed_) return;
  char buffer[65536];
  for (;;) {
    ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      received_.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      peerClosed_ = true;
      return;
    } else {
      return;
    }
  }
}

bool Client::waitForBytes(size_t n, double seconds) {
  return runUntil(
             [&] {
               poll();
               return received_.size() >= n || peerClosed_;
             },
             seconds) &&
         received_.size() >= n;
}

bool Client::waitForClose(double seconds) {
  return runUntil(
      [&] {
        poll();
        return peerClosed_;
      },
      seconds);
}

void Client::waitForQuiet(double quiet, double seconds) {
  const auto start = std::chrono::steady_clock::now();
  auto lastChange = start;
  size_t size = received_.size();
  while (secondsSince(lastChange) < quiet && secondsSince(start) < seconds && !peerClosed_) {
    runOnce(0.005);
    poll();
    if (received_.size() != size) {
      size = received_.size();
      lastChange = std::chrono::steady_clock::now();
    }
  }
}

}  // namespace harness
