/* The CardDAV service's HTTP server: libmicrohttpd in external epoll mode, so that it never
 * starts a thread of its own. Whoever runs it (DavService, from bookd's run loop) calls run()
 * when epollFd() becomes readable or when the time run() last gave has passed.
 *
 * Per request: the path and headers arrive first; /.well-known/carddav is redirected without
 * a login, everything else needs HTTP Basic authentication (checked against the login
 * budget) before a byte of the body is read, so bodies are only ever buffered for clients
 * that logged in, and never beyond the limits of DavConfig. */
#ifndef BOOKD_CARDDAV_DAVSERVER_H
#define BOOKD_CARDDAV_DAVSERVER_H

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include "CardCollection.h"
#include "DavConfig.h"
#include "DavHandler.h"
#include "LoginBudget.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace carddav {

class DavServer {
 public:
  using Log = std::function<void(const std::string &)>;

  // The collection and budget must outlive the server.
  DavServer(const DavConfig &config, CardCollection &collection, LoginBudget &budget, Log log);
  ~DavServer();
  DavServer(const DavServer &) = delete;
  DavServer &operator=(const DavServer &) = delete;

  // Listens; false with a message for the user (one line) when it can't.
  bool start(std::string *error);
  void stop();

  int port() const { return port_; }
  // Readable whenever run() has work.
  int epollFd() const { return epollFd_; }
  // Does all that is due; gives the milliseconds after which run() must be called again
  // even if epollFd() stays quiet, or -1 when there is no such time.
  long long run();
  size_t openConnections() const { return connections_.size(); }

  // libmicrohttpd's callbacks; public only for them.
  struct Tracked;
  struct RequestState;
  int access(MHD_Connection *connection, const char *url, const char *method, const char *uploadData,
             size_t *uploadSize, void **requestContext);
  void connectionEvent(MHD_Connection *connection, void **socketContext, bool started);
  void requestCompleted(MHD_Connection *connection, void **requestContext);
  void mhdLog(const std::string &message);

 private:
  bool authenticate(MHD_Connection *connection, RequestState *state);
  int queue(MHD_Connection *connection, DavResponse &response);
  int queueUnauthorized(MHD_Connection *connection);
  double now() const;

  DavConfig config_;
  CardCollection &collection_;
  LoginBudget &budget_;
  Log log_;
  DavHandler handler_;
  MHD_Daemon *daemon_ = nullptr;
  int port_ = 0;
  int epollFd_ = -1;
  std::string certificate_, key_;
  std::unordered_set<Tracked *> connections_;
  std::string lastMhdMessage_;
  double lastMhdMessageTime_ = 0;
};

}  // namespace carddav

#endif
