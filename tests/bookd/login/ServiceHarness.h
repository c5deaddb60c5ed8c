// What the service tests share: a server object with its socket service on a port the
// system chose, the run loop run until something happens or a deadline passes, and raw
// loopback clients that never block the thread that also runs the server.
#pragma once

#import "login/FileHandleAuth.h"
#import "login/LoginService.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/socket.h>
#include <string>

#include "LoopbackPort.h"

namespace harness {

// The server's passwords: "secret", and a tab followed by non-ASCII letters, so that the
// tests also show that a password's leading tab and its UTF-8 bytes are presented as given.
NSString *ReadOnlyPassword();
NSString *ReadWritePassword();
extern const char kReadWritePasswordBytes[];

// Runs the current run loop until done() or the deadline; answers done() at the end.
bool runUntil(const std::function<bool()> &done, double seconds = 5.0);
// Runs the run loop once: until one event was handled, or for seconds at most.
void runOnce(double seconds = 0.001);
// Runs the run loop for a while, for checks that nothing (more) happens.
void runFor(double seconds);

// A server over no book, with its service on a port the system chose, listening on address
// (nil: every IPv4 address).
AddressBookServer *newServer(int port = 0, NSString *address = nil);

// A test with a server from newServer() in an autorelease pool of its own.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  NSUInteger openConnections();

  NSAutoreleasePool *pool_ = nil;
  AddressBookServer *server_ = nil;
  int port_ = 0;
};

// A loopback client. Everything it receives is kept in received().
class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  bool open(int family = AF_INET);  // makes the socket now, to connect later
  // Connects (the server may not have accepted yet) to the address, IPv4 or IPv6, from the
  // given source address when one is given: anything in 127/8 is this machine on Linux, so
  // 127.0.0.2 is another client address on loopback.
  bool connectTo(int port, const std::string &to = "127.0.0.1", const std::string &from = "");
  void sendBytes(const std::string &bytes);  // sends all of it, running the loop when full
  void resetNow();                           // closes with a reset (SO_LINGER 0)
  void closeNow();

  // Collects what has arrived without waiting.
  void poll();
  // Runs the loop until at least n bytes arrived in all, or the peer closed.
  bool waitForBytes(size_t n, double seconds = 5.0);
  // Runs the loop until the peer has closed.
  bool waitForClose(double seconds = 5.0);
  // Runs the loop until nothing has arrived for quiet seconds.
  void waitForQuiet(double quiet, double seconds = 20.0);

  const std::string &received() const { return received_; }
  bool peerClosed() const { return peerClosed_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string received_;
  bool peerClosed_ = false;
};

}  // namespace harness
