#include "DavServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ClientAddress.h"
#include "DavPath.h"
#include "PasswordMatch.h"

namespace carddav {

// A connection, from accept to close: its descriptor and since when it has been waiting for
// a request to arrive in full (waiting is false while a request is being answered).
struct DavServer::Tracked {
  int fd = -1;
  double since = 0;
  bool waiting = true;
  bool cut = false;
};

struct DavServer::RequestState {
  DavRequest request;
  size_t limit = 0;
  bool queued = false;
};

namespace {

MHD_Result accessCallback(void *cls, MHD_Connection *connection, const char *url, const char *method,
                          const char *, const char *uploadData, size_t *uploadSize, void **requestContext) {
  // No exception may unwind through libmicrohttpd's C frames: one that escapes a request
  // (out of memory) ends that request's connection.
  try {
    return static_cast<DavServer *>(cls)->access(connection, url, method, uploadData, uploadSize,
                                                 requestContext)
               ? MHD_YES
               : MHD_NO;
  } catch (...) {
    return MHD_NO;
  }
}

void completedCallback(void *cls, MHD_Connection *connection, void **requestContext,
                       MHD_RequestTerminationCode) {
  static_cast<DavServer *>(cls)->requestCompleted(connection, requestContext);
}

void connectionCallback(void *cls, MHD_Connection *connection, void **socketContext,
                        MHD_ConnectionNotificationCode code) {
  static_cast<DavServer *>(cls)->connectionEvent(connection, socketContext,
                                                 code == MHD_CONNECTION_NOTIFY_STARTED);
}

// Paths reach the handler as sent: it decodes them itself, and must see "%2F" and "%00".
size_t keepEscapes(void *, MHD_Connection *, char *text) {
  return std::strlen(text);
}

void logCallback(void *cls, const char *format, va_list args) {
  char buffer[512];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  std::string message = buffer;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  static_cast<DavServer *>(cls)->mhdLog(message);
}

bool readFile(const std::string &path, std::string *content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream data;
  data << in.rdbuf();
  *content = data.str();
  return in.good() || in.eof();
}

std::string peerAddress(MHD_Connection *connection) {
  const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return "";
  char buffer[INET6_ADDRSTRLEN] = "";
  const sockaddr *address = info->client_addr;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, buffer, sizeof buffer);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, buffer, sizeof buffer);
  }
  return canonicalAddress(buffer);
}

}  // namespace

DavServer::DavServer(const DavConfig &config, CardCollection &collection, LoginBudget &budget, Log log)
    : config_(config),
      collection_(collection),
      budget_(budget),
      log_(std::move(log)),
      handler_(config_, collection_, log_) {}

DavServer::~DavServer() {
  stop();
}

double DavServer::now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool DavServer::start(std::string *error) {
  sockaddr_storage address{};
  bool loopback = false;
  unsigned flags = MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
  auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
  auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
  if (config_.port < 0 || config_.port > 65535) {
    *error = "CardDAV: the port " + std::to_string(config_.port) + " is not a port number";
    return false;
  }
  if (inet_pton(AF_INET, config_.listenAddress.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(config_.port));
    loopback = (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  } else if (inet_pton(AF_INET6, config_.listenAddress.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(config_.port));
    loopback = IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    flags |= MHD_USE_IPv6;
  } else {
    *error = "CardDAV: the listen address \"" + config_.listenAddress + "\" is not an IP address";
    return false;
  }

  const bool tls = !config_.tlsCertificateFile.empty() || !config_.tlsKeyFile.empty();
  if (tls) {
    if (config_.tlsCertificateFile.empty() || config_.tlsKeyFile.empty()) {
      *error = "CardDAV: TLS needs both a certificate file and a key file";
      return false;
    }
    if (!readFile(config_.tlsCertificateFile, &certificate_) || certificate_.empty()) {
      *error = "CardDAV: couldn't read the certificate file " + config_.tlsCertificateFile;
      return false;
    }
    if (!readFile(config_.tlsKeyFile, &key_) || key_.empty()) {
      *error = "CardDAV: couldn't read the key file " + config_.tlsKeyFile;
      return false;
    }
    flags |= MHD_USE_TLS;
  } else if (!loopback && !config_.allowPlainHttp) {
    *error = "CardDAV: refusing plain HTTP on " + config_.listenAddress +
             ", which is not a loopback address: passwords would cross the network unencrypted. Give a "
             "certificate and key, or allow plain HTTP when a TLS proxy is in front";
    return false;
  }

  initXmlReading();
  MHD_OptionItem options[12];
  int n = 0;
  options[n++] = {MHD_OPTION_SOCK_ADDR, 0, &address};
  options[n++] = {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(config_.connectionLimit), nullptr};
  options[n++] = {MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                  static_cast<intptr_t>(config_.perAddressConnectionLimit), nullptr};
  options[n++] = {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(config_.idleTimeoutSeconds), nullptr};
  options[n++] = {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&completedCallback), this};
  options[n++] = {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&connectionCallback), this};
  options[n++] = {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keepEscapes), this};
  options[n++] = {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&logCallback), this};
  if (tls) {
    options[n++] = {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(certificate_.c_str())};
    options[n++] = {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(key_.c_str())};
  }
  options[n++] = {MHD_OPTION_END, 0, nullptr};

  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &accessCallback, this, MHD_OPTION_ARRAY, options,
                             MHD_OPTION_END);
  if (!daemon_) {
    *error = "CardDAV: couldn't listen on " + config_.listenAddress + " port " +
             std::to_string(config_.port) + (tls ? " (or the certificate and key were not usable)" : "");
    return false;
  }
  const MHD_DaemonInfo *epoll = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
  const MHD_DaemonInfo *port = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  epollFd_ = epoll ? epoll->epoll_fd : -1;
  port_ = port ? port->port : config_.port;
  if (epollFd_ < 0) {
    stop();
    *error = "CardDAV: libmicrohttpd gave no epoll descriptor";
    return false;
  }
  return true;
}

void DavServer::stop() {
  if (!daemon_) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  epollFd_ = -1;
}

long long DavServer::run() {
  if (!daemon_) return -1;
  // libmicrohttpd takes its listening socket out of the epoll set while the connection limit
  // is reached and puts it back only at the start of a run; a run that closed connections is
  // followed by another, or a waiting client would wait for the next unrelated event.
  for (int i = 0; i < 4; ++i) {
    const size_t before = connections_.size();
    MHD_run(daemon_);
    if (connections_.size() >= before) break;
  }
  // Requests that take too long to arrive: the socket is shut down rather than closed, so
  // libmicrohttpd sees the end of the stream and closes the connection in its own time.
  const double t = now();
  double nextDeadline = -1;
  for (Tracked *tracked : connections_) {
    if (!tracked->waiting || tracked->cut) continue;
    const double deadline = tracked->since + config_.requestTimeoutSeconds;
    if (t >= deadline) {
      tracked->cut = true;
      shutdown(tracked->fd, SHUT_RDWR);
      nextDeadline = t;  // run again soon to let libmicrohttpd close it
    } else if (nextDeadline < 0 || deadline < nextDeadline) {
      nextDeadline = deadline;
    }
  }
  if (nextDeadline >= 0 && nextDeadline == t) MHD_run(daemon_);
  MHD_UNSIGNED_LONG_LONG mhdTimeout = 0;
  long long wait = MHD_get_timeout(daemon_, &mhdTimeout) == MHD_YES ? static_cast<long long>(mhdTimeout) : -1;
  if (nextDeadline >= 0) {
    long long untilDeadline = static_cast<long long>((nextDeadline - t) * 1000) + 1;
    if (untilDeadline < 10) untilDeadline = 10;
    if (wait < 0 || untilDeadline < wait) wait = untilDeadline;
  }
  return wait;
}

void DavServer::connectionEvent(MHD_Connection *connection, void **socketContext, bool started) {
  if (started) {
    auto *tracked = new Tracked;
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    tracked->fd = info ? info->connect_fd : -1;
    tracked->since = now();
    *socketContext = tracked;
    connections_.insert(tracked);
  } else {
    auto *tracked = static_cast<Tracked *>(*socketContext);
    connections_.erase(tracked);
    delete tracked;
    *socketContext = nullptr;
  }
}

void DavServer::requestCompleted(MHD_Connection *connection, void **requestContext) {
  delete static_cast<RequestState *>(*requestContext);
  *requestContext = nullptr;
  const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (info && info->socket_context) {
    auto *tracked = static_cast<Tracked *>(info->socket_context);
    tracked->waiting = true;
    tracked->since = now();
  }
}

void DavServer::mhdLog(const std::string &message) {
  // A flood of refused connections must not flood the log.
  const double t = now();
  if (message == lastMhdMessage_ && t - lastMhdMessageTime_ < 60) return;
  lastMhdMessage_ = message;
  lastMhdMessageTime_ = t;
  log_("CardDAV: " + message);
}

bool DavServer::authenticate(MHD_Connection *connection, RequestState *state) {
  char *password = nullptr;
  char *user = MHD_basic_auth_get_username_password(connection, &password);
  if (!user) {
    MHD_free(password);
    return false;
  }
  const std::string offered = password ? password : "";
  state->request.user = user;
  MHD_free(user);
  MHD_free(password);

  const std::string address =
      clientAddressOf(peerAddress(connection), config_.trustedProxies,
                      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Forwarded"),
                      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For"));
  if (!budget_.mayCheckPassword(address)) return false;
  const bool rw = !config_.readWritePassword.empty() && passwordsMatch(config_.readWritePassword, offered);
  const bool ro = !config_.readOnlyPassword.empty() && passwordsMatch(config_.readOnlyPassword, offered);
  if (!rw && !ro) {
    budget_.noteFailure(address);
    return false;
  }
  budget_.noteSuccess(address);
  state->request.writable = rw;
  return true;
}

int DavServer::queue(MHD_Connection *connection, DavResponse &response) {
  auto *body = new std::string;
  body->swap(response.body);
  MHD_Response *mhd = MHD_create_response_from_buffer_with_free_callback_cls(
      body->size(), const_cast<char *>(body->data()),
      [](void *owned) { delete static_cast<std::string *>(owned); }, body);
  if (!mhd) {
    delete body;
    return 0;
  }
  for (const auto &header : response.headers)
    MHD_add_response_header(mhd, header.first.c_str(), header.second.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), mhd);
  MHD_destroy_response(mhd);
  return queued == MHD_YES;
}

int DavServer::queueUnauthorized(MHD_Connection *connection) {
  // RFC 7617's charset parameter asks for UTF-8; clients that send ISO 8859-1 anyway (aiohttp,
  // so vdirsyncer) can only log in with ASCII passwords, since bytes are compared as they are.
  std::string challenge = "Basic realm=\"";
  for (char c : config_.realm) {
    if (c == '"' || c == '\\') challenge.push_back('\\');
    challenge.push_back(c);
  }
  challenge += "\", charset=\"UTF-8\"";
  DavResponse response;
  response.status = 401;
  response.setHeader("WWW-Authenticate", challenge);
  response.setHeader("Content-Type", "text/plain; charset=utf-8");
  response.body = "Authentication required.\n";
  return queue(connection, response);
}

int DavServer::access(MHD_Connection *connection, const char *url, const char *method, const char *uploadData,
                      size_t *uploadSize, void **requestContext) {
  auto *state = static_cast<RequestState *>(*requestContext);
  if (!state) {
    // The request line and headers are in; the body (if any) comes in later calls.
    state = new RequestState;
    *requestContext = state;
    DavRequest &request = state->request;
    request.method = method;
    request.path = url;
    request.header = [connection](const char *name) {
      return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    };
    state->limit = handler_.bodyLimit(request.method);
    DavResponse response;
    if (parseTarget(request.path).kind == DavTarget::kWellKnown) {
      state->queued = true;
      handler_.handle(request, &response);
      return queue(connection, response);
    }
    if (!authenticate(connection, state)) {
      state->queued = true;
      return queueUnauthorized(connection);
    }
    const char *lengthHeader = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
    size_t length = 0;
    if (lengthHeader) {
      char *end = nullptr;
      unsigned long long value = std::strtoull(lengthHeader, &end, 10);
      length = (end && *end == '\0') ? static_cast<size_t>(value) : SIZE_MAX;
    }
    if (handler_.answerEarly(request, length, lengthHeader != nullptr, &response)) {
      state->queued = true;
      return queue(connection, response);
    }
    if (lengthHeader) request.body.reserve(length);  // within the limit, checked just above
    return 1;
  }
  if (state->queued) {
    *uploadSize = 0;
    return 1;
  }
  const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  Tracked *tracked = info ? static_cast<Tracked *>(info->socket_context) : nullptr;
  if (*uploadSize > 0) {
    // A body sent without a length, or slower than allowed, ends the connection unanswered.
    if (state->request.body.size() + *uploadSize > state->limit) return 0;
    if (tracked && now() - tracked->since > config_.requestTimeoutSeconds) return 0;
    state->request.body.append(uploadData, *uploadSize);
    *uploadSize = 0;
    return 1;
  }
  if (tracked) tracked->waiting = false;
  DavResponse response;
  handler_.handle(state->request, &response);
  state->queued = true;
  return queue(connection, response);
}

}  // namespace carddav
