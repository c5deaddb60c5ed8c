#include "HttpClient.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "LoopbackPort.h"

namespace davbench {

namespace {

// Radicale takes tens of seconds over some 10,000-card answers; a server that says nothing
// for this long has hung, and the benchmark stops rather than waits for ever.
const int kSilenceMs = 300 * 1000;

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmedText(const std::string &text) {
  size_t begin = text.find_first_not_of(" \t");
  size_t end = text.find_last_not_of(" \t\r");
  return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

}  // namespace

std::string basicAuthorization(const std::string &user, const std::string &password) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string in = user + ":" + password;
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += i + 1 < in.size() ? alphabet[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? alphabet[v & 63] : '=';
  }
  return "Basic " + out;
}

HttpClient::HttpClient(int port, std::string authorization)
    : port_(port), authorization_(std::move(authorization)) {}

HttpClient::~HttpClient() {
  close();
}

bool HttpClient::fail(const std::string &why) {
  error_ = why;
  close();
  return false;
}

bool HttpClient::connect() {
  close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address = kxtest::loopbackAddress(port_);
  if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    return fail("connect to port " + std::to_string(port_) + ": " + std::strerror(errno));
  // Requests go out in one write; without this a body sent after its headers would wait for
  // the server's delayed acknowledgement.
  int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  connections_++;
  return true;
}

void HttpClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  start_ = 0;
}

bool HttpClient::sendAll(const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool HttpClient::fill() {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, kSilenceMs);
  while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    error_ = ready == 0 ? "the server said nothing for 300 s" : std::strerror(errno);
    return false;
  }
  char chunk[1 << 16];
  ssize_t n;
  do n = recv(fd_, chunk, sizeof chunk, 0);
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    error_ = n == 0 ? "the server closed the connection" : std::strerror(errno);
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  received_ += static_cast<size_t>(n);
  return true;
}

bool HttpClient::readResponse(Response *response, bool *keepAlive) {
  size_t headEnd;
  while ((headEnd = buffer_.find("\r\n\r\n", start_)) == std::string::npos)
    if (!fill()) return false;
  const std::string head = buffer_.substr(start_, headEnd - start_);
  start_ = headEnd + 4;

  size_t lineEnd = head.find("\r\n");
  const std::string statusLine = head.substr(0, lineEnd);
  if (statusLine.compare(0, 5, "HTTP/") != 0 || statusLine.size() < 12)
    return fail("not an HTTP answer: " + statusLine);
  const bool http10 = statusLine.compare(0, 8, "HTTP/1.0") == 0;
  response->status = std::atoi(statusLine.c_str() + 9);
  response->headers.clear();
  response->body.clear();
  while (lineEnd != std::string::npos) {
    size_t next = head.find("\r\n", lineEnd + 2);
    const std::string line =
        head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      response->headers[lower(line.substr(0, colon))] = trimmedText(line.substr(colon + 1));
    lineEnd = next;
  }
  const std::string connection = lower(response->header("connection"));
  *keepAlive = http10 ? connection == "keep-alive" : connection != "close";

  if (lower(response->header("transfer-encoding")) == "chunked") {
    for (;;) {
      size_t sizeEnd;
      while ((sizeEnd = buffer_.find("\r\n", start_)) == std::string::npos)
        if (!fill()) return false;
      const size_t size = std::strtoul(buffer_.c_str() + start_, nullptr, 16);
      start_ = sizeEnd + 2;
      while (buffer_.size() - start_ < size + 2)
        if (!fill()) return false;
      response->body.append(buffer_, start_, size);
      start_ += size + 2;
      if (size == 0) return true;  // no trailers come from the servers measured
    }
  }
  const std::string length = response->header("content-length");
  if (!length.empty()) {
    const size_t size = std::strtoul(length.c_str(), nullptr, 10);
    while (buffer_.size() - start_ < size)
      if (!fill()) return false;
    response->body.assign(buffer_, start_, size);
    start_ += size;
    return true;
  }
  if (response->status == 204 || response->status == 304 || response->status < 200) return true;
  // Neither length nor chunks: the body ends where the server closes.
  while (fill()) {
  }
  response->body.assign(buffer_, start_, std::string::npos);
  *keepAlive = false;
  return true;
}

bool HttpClient::exchange(const std::string &method, const std::string &path, const std::string &headers,
                          const std::string &body, Response *response) {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                        "\r\nUser-Agent: kindex-bench\r\n";
  if (!authorization_.empty()) request += "Authorization: " + authorization_ + "\r\n";
  request += headers;
  if (!body.empty() || method == "PUT" || method == "PROPFIND" || method == "REPORT")
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;

  // A kept-alive connection the server has closed meanwhile fails at once: try once more on
  // a new one. A fresh connection that fails is the server's fault.
  for (int attempt = 0; attempt < 2; attempt++) {
    const bool fresh = fd_ < 0;
    if (fresh && !connect()) return false;
    bool keepAlive = false;
    error_.clear();
    received_ = 0;
    if (sendAll(request) && readResponse(response, &keepAlive)) {
      if (!keepAlive) close();
      return true;
    }
    const std::string why = error_.empty() ? std::strerror(errno) : error_;
    close();
    if (fresh || received_ > 0) return fail(method + " " + path + ": " + why);
  }
  return fail(method + " " + path + ": no answer");
}

}  // namespace davbench
