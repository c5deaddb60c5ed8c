#import "DavHarness.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "LoopbackPort.h"

namespace davtest {

const char kReadOnlyPassword[] = "looker";
const char kReadWritePassword[] = "wr\xC3\xAFter:x";  // a colon and UTF-8 bytes, sent as they are

const char kAliceName[] = "alice.vcf";
const char kBobName[] = "bob.vcf";
const char kGroupName[] = "friends.vcf";
const char kUmlautName[] = "m\xC3\xBCnchen wei\xC3\x9F.vcf";

std::string aliceCard() {
  return kxtest::Card(
      "alice", "Alice Liddell",
      "N:Liddell;Alice;;;\r\nEMAIL;TYPE=work:alice@example.com\r\nTEL;TYPE=cell:+44 1865 000\r\n"
      "NOTE:likes rabbits\\, tea\\nand hats\r\n");
}
std::string bobCard() {
  return kxtest::Card("bob", "Bob Builder",
                      "N:Builder;Bob;;;\r\nNICKNAME:Bobby\r\nEMAIL;TYPE=home:bob@example.org\r\n");
}
std::string groupCard() {
  return kxtest::Card(
      "friends", "Friends",
      "N:Friends;;;;\r\nX-ADDRESSBOOKSERVER-KIND:group\r\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:alice\r\n");
}
std::string umlautCard() {
  return kxtest::Card("umlaut", "M\xC3\xBCnchen Wei\xC3\x9F", "ORG:Br\xC3\xA4u AG\r\n");
}

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

bool runUntil(const std::function<bool()> &done, double seconds) {
  const double deadline = Now() + seconds;
  while (!done()) {
    if (Now() > deadline) return done();
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                             beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.005]];
    [pool release];
  }
  return true;
}

void runFor(double seconds) {
  const double end = Now() + seconds;
  runUntil([&] { return Now() >= end; }, seconds + 1);
}

std::string base64(const std::string &bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out.push_back(kAlphabet[(v >> k) & 63]);
  }
  if (i + 1 == bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += std::string() + kAlphabet[(v >> 18) & 63] + kAlphabet[(v >> 12) & 63] + "==";
  } else if (i + 2 == bytes.size()) {
    unsigned v =
        (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += std::string() + kAlphabet[(v >> 18) & 63] + kAlphabet[(v >> 12) & 63] + kAlphabet[(v >> 6) & 63] +
           "=";
  }
  return out;
}

std::string basicAuth(const std::string &password, const std::string &user) {
  return "Authorization: Basic " + base64(user + ":" + password) + "\r\n";
}

HttpClient::~HttpClient() {
  if (fd_ >= 0) close(fd_);
}

bool HttpClient::connectTo(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return false;
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  sockaddr_in address = kxtest::loopbackAddress(port);
  if (connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS)
    return false;
  return true;
}

bool HttpClient::sendBytes(const std::string &bytes) {
  size_t sent = 0;
  const double deadline = Now() + 20;
  while (sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN && errno != EINTR) return false;
    if (Now() > deadline) return false;
    runFor(0.001);  // the server must run for the connection to drain
  }
  return true;
}

bool HttpClient::fill(double deadline) {
  char chunk[65536];
  for (;;) {
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      eof_ = true;
      return false;
    }
    if (Now() > deadline) return false;
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                             beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.002]];
    [pool release];
  }
}

HttpResponse HttpClient::readResponse(bool head, double seconds) {
  HttpResponse response;
  const double deadline = Now() + seconds;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!fill(deadline)) {
      response.closed = eof_;
      return response;
    }
  }
  std::string head_ = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  size_t lineEnd = head_.find("\r\n");
  std::string statusLine = head_.substr(0, lineEnd);
  if (statusLine.size() < 12) return response;
  int status = std::atoi(statusLine.c_str() + 9);
  size_t pos = lineEnd == std::string::npos ? head_.size() : lineEnd + 2;
  while (pos < head_.size()) {
    size_t next = head_.find("\r\n", pos);
    if (next == std::string::npos) next = head_.size();
    std::string line = head_.substr(pos, next - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.headers[lower(line.substr(0, colon))] = value;
    }
    pos = next + 2;
  }
  if (!head && status != 204 && status != 304) {
    if (lower(response.header("transfer-encoding")) == "chunked") {
      std::string body;
      for (;;) {
        size_t sizeEnd;
        while ((sizeEnd = buffer_.find("\r\n")) == std::string::npos)
          if (!fill(deadline)) return response;
        size_t size = std::strtoul(buffer_.c_str(), nullptr, 16);
        while (buffer_.size() < sizeEnd + 2 + size + 2)
          if (!fill(deadline)) return response;
        body.append(buffer_, sizeEnd + 2, size);
        buffer_.erase(0, sizeEnd + 2 + size + 2);
        if (size == 0) break;
      }
      response.body = body;
    } else if (!response.header("content-length").empty()) {
      size_t length = std::strtoul(response.header("content-length").c_str(), nullptr, 10);
      while (buffer_.size() < length)
        if (!fill(deadline)) return response;
      response.body = buffer_.substr(0, length);
      buffer_.erase(0, length);
    } else {
      while (fill(deadline)) {
      }
      response.body.swap(buffer_);
    }
  }
  response.status = status;
  return response;
}

bool HttpClient::waitForClose(double seconds) {
  const double deadline = Now() + seconds;
  while (!eof_) {
    if (Now() > deadline) return false;
    if (!fill(deadline)) {
      if (eof_) return true;
    }
  }
  return true;
}

std::string rawRequest(const std::string &method, const std::string &path, const std::string &headers,
                       const std::string &body) {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + headers;
  if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return request + "\r\n" + body;
}

namespace {

struct XPathDoc {
  xmlDocPtr doc = nullptr;
  xmlXPathContextPtr context = nullptr;
  explicit XPathDoc(const std::string &xml) {
    doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "answer.xml", nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return;
    context = xmlXPathNewContext(doc);
    xmlXPathRegisterNs(context, BAD_CAST "d", BAD_CAST "DAV:");
    xmlXPathRegisterNs(context, BAD_CAST "c", BAD_CAST "urn:ietf:params:xml:ns:carddav");
    xmlXPathRegisterNs(context, BAD_CAST "cs", BAD_CAST "http://calendarserver.org/ns/");
    xmlXPathRegisterNs(context, BAD_CAST "x", BAD_CAST "urn:example:x");
  }
  ~XPathDoc() {
    if (context) xmlXPathFreeContext(context);
    if (doc) xmlFreeDoc(doc);
  }
};

}  // namespace

std::string checkXml(const std::string &xml, const std::vector<std::string> &xpaths) {
  XPathDoc parsed(xml);
  if (!parsed.doc) return "the answer is not XML: " + xml.substr(0, 400);
  std::string failures;
  for (const std::string &xpath : xpaths) {
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST xpath.c_str(), parsed.context);
    if (!result) {
      failures += "bad XPath: " + xpath + "\n";
      continue;
    }
    if (!xmlXPathCastToBoolean(result)) failures += "does not hold: " + xpath + "\n";
    xmlXPathFreeObject(result);
  }
  if (!failures.empty()) failures += "in: " + xml.substr(0, 3000);
  return failures;
}

std::string xPathString(const std::string &xml, const std::string &xpath) {
  XPathDoc parsed(xml);
  if (!parsed.doc) return "";
  xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST xpath.c_str(), parsed.context);
  if (!result) return "";
  xmlChar *text = xmlXPathCastToString(result);
  std::string value = text ? reinterpret_cast<const char *>(text) : "";
  xmlFree(text);
  xmlXPathFreeObject(result);
  return value;
}

void DavTest::SetUp() {
  pool_ = [NSAutoreleasePool new];
  config_.displayName = "Contacts & Co";
  config_.readOnlyPassword = kReadOnlyPassword;
  config_.readWritePassword = kReadWritePassword;
  config_.maxResourceSize = 4096;
  config_.maxXmlBodySize = 64 * 1024;
  restart();
}

void DavTest::restart() {
  if (service_) {
    [service_ stop];
    [service_ release];
  }
  budget_.reset(new carddav::FailureCountBudget(5));
  service_ = [[DavService alloc] init];
  std::string error;
  std::function<void(const std::string &)> log = [this](const std::string &line) { log_.push_back(line); };
  ASSERT_TRUE([service_ startWithConfig:&config_
                             collection:&served()
                                 budget:budget_.get()
                                    log:&log
                                  error:&error])
      << error;
  port_ = [service_ port];
  ASSERT_GT(port_, 0);
}

void DavTest::TearDown() {
  [service_ stop];
  [service_ release];
  service_ = nil;
  [pool_ release];
}

void DavTest::addKnownCards() {
  carddav::Condition none;
  served().put(kAliceName, aliceCard(), none);
  served().put(kBobName, bobCard(), none);
  served().put(kGroupName, groupCard(), none);
  served().put(kUmlautName, umlautCard(), none);
}

HttpResponse DavTest::request(const std::string &method, const std::string &path, const std::string &headers,
                              const std::string &body) {
  HttpClient client;
  if (!client.connectTo(port_)) return HttpResponse();
  if (!client.sendBytes(rawRequest(method, path, headers, body))) return HttpResponse();
  return client.readResponse(method == "HEAD");
}

HttpResponse DavTest::rw(const std::string &method, const std::string &path, const std::string &headers,
                         const std::string &body) {
  return request(method, path, basicAuth(kReadWritePassword) + headers, body);
}

}  // namespace davtest
