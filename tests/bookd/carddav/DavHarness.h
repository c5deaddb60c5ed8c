// What the CardDAV tests share: the service on a loopback port over a MemoryCollection, the
// run loop run until something happens or a deadline passes, a raw HTTP/1.1 client that never
// blocks the thread the service runs on, and XPath checks on XML answers.
#pragma once

#import "DavService.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DavConfig.h"
#include "LoginBudget.h"
#include "MemoryCollection.h"

namespace davtest {

extern const char kReadOnlyPassword[];
extern const char kReadWritePassword[];

// Runs the current run loop until done() or the deadline; answers done() at the end.
bool runUntil(const std::function<bool()> &done, double seconds = 10.0);
void runFor(double seconds);

std::string base64(const std::string &bytes);
// "Authorization: Basic ..." header lines (with CRLF) for a password; "" for none.
std::string basicAuth(const std::string &password, const std::string &user = "someone");

struct HttpResponse {
  int status = 0;                              // 0: no complete answer (closed or timed out)
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool closed = false;  // the server closed the connection
  std::string header(const std::string &lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? "" : it->second;
  }
};

// One loopback connection. Everything runs the run loop while it waits.
class HttpClient {
 public:
  ~HttpClient();
  bool connectTo(int port);
  bool sendBytes(const std::string &bytes);
  // Reads one answer; head: the request was HEAD (the answer has no body).
  HttpResponse readResponse(bool head = false, double seconds = 10.0);
  // Runs the loop until the server closed the connection.
  bool waitForClose(double seconds);
  int fd() const { return fd_; }

 private:
  bool fill(double deadline);
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// A request in full: the method and path, extra header lines (each ending in CRLF) and a body
// (Content-Length is added when the body is not empty).
std::string rawRequest(const std::string &method, const std::string &path, const std::string &headers,
                       const std::string &body);

// Checks an XML answer: each expression is an XPath 1.0 boolean over the answer, with the
// prefixes d (DAV:), c (CardDAV) and cs (CalendarServer). Gives "" when all hold, otherwise
// what failed.
std::string checkXml(const std::string &xml, const std::vector<std::string> &xpaths);
// The string value of an XPath expression over the answer.
std::string xPathString(const std::string &xml, const std::string &xpath);

// The service over a MemoryCollection (or another collection: served_) holding cards the
// tests know, with a small resource limit and a budget of five failures per address.
class DavTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the service with config_ (SetUp does it; a test may change config_ and restart).
  void restart();
  HttpResponse request(const std::string &method, const std::string &path, const std::string &headers = "",
                       const std::string &body = "");
  // As request, logged in with the read-write password.
  HttpResponse rw(const std::string &method, const std::string &path, const std::string &headers = "",
                  const std::string &body = "");
  void addKnownCards();
  // What the service serves: collection_, unless a test set served_ before restart().
  carddav::CardCollection &served() { return served_ != nullptr ? *served_ : collection_; }

  NSAutoreleasePool *pool_ = nil;
  carddav::DavConfig config_;
  kxtest::MemoryCollection collection_;
  carddav::CardCollection *served_ = nullptr;
  std::unique_ptr<carddav::FailureCountBudget> budget_;
  DavService *service_ = nil;
  std::vector<std::string> log_;
  int port_ = 0;
};

// The cards addKnownCards() stores, in this order (versions 1 to 4).
extern const char kAliceName[];
extern const char kBobName[];
extern const char kGroupName[];
extern const char kUmlautName[];  // "münchen weiß.vcf"
std::string aliceCard();
std::string bobCard();
std::string groupCard();
std::string umlautCard();

}  // namespace davtest
