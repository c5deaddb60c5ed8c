// A plain HTTP/1.1 client on one kept-alive loopback connection, as a CardDAV client talks to
// its server: one request at a time, the answer read in full before the next. When the server
// closes the connection after an answer (or before the next request arrives) the client opens
// a new one, and that cost counts as the server's: it is how that server serves.
#pragma once

#include <map>
#include <string>

namespace davbench {

struct Response {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string header(const std::string &lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? "" : it->second;
  }
};

class HttpClient {
 public:
  // authorization: the value of the Authorization header sent with every request ("" for none).
  HttpClient(int port, std::string authorization);
  ~HttpClient();
  HttpClient(const HttpClient &) = delete;
  HttpClient &operator=(const HttpClient &) = delete;

  // Sends a request and reads its whole answer (Content-Length, chunked, or up to the close).
  // headers: extra header lines, each ending in CRLF. False with a reason in error() when no
  // answer came or it could not be read; an answer with any status is true.
  bool exchange(const std::string &method, const std::string &path, const std::string &headers,
                const std::string &body, Response *response);
  const std::string &error() const { return error_; }
  // Connections opened so far.
  int connections() const { return connections_; }

 private:
  bool connect();
  void close();
  bool sendAll(const std::string &bytes);
  // Reads more bytes into buffer_; false at the end of the stream or on an error.
  bool fill();
  bool readResponse(Response *response, bool *keepAlive);
  bool fail(const std::string &why);

  int port_;
  std::string authorization_;
  int fd_ = -1;
  std::string buffer_;
  size_t start_ = 0;     // where unread bytes in buffer_ begin
  size_t received_ = 0;  // bytes of the current answer so far
  int connections_ = 0;
  std::string error_;
};

// "Basic " + base64(user:password)
std::string basicAuthorization(const std::string &user, const std::string &password);

}  // namespace davbench
