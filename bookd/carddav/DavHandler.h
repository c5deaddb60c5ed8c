/* The CardDAV protocol: one complete request in, one answer out, over a CardCollection. It
 * never touches a socket; DavServer moves the bytes and does the logging in. */
#ifndef BOOKD_CARDDAV_DAVHANDLER_H
#define BOOKD_CARDDAV_DAVHANDLER_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "CardCollection.h"
#include "DavConfig.h"
#include "DavPath.h"
#include "DavProperties.h"
#include "DavRequestBody.h"

namespace carddav {

struct DavRequest {
  std::string method;
  std::string path;  // the request target as sent, without the query
  // The value of a request header (name in any case), or null when absent.
  std::function<const char *(const char *name)> header;
  std::string body;
  std::string user;  // the user name the client logged in with
  bool writable = false;
};

struct DavResponse {
  int status = 500;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  void setHeader(const std::string &name, const std::string &value) { headers.emplace_back(name, value); }
};

class DavHandler {
 public:
  DavHandler(const DavConfig &config, CardCollection &collection,
             std::function<void(const std::string &)> log);

  // Answers what can be answered from the request line and headers alone, before the body is
  // read: writes on a read-only login (403), bodies announced over the limit (413),
  // /.well-known/carddav (redirect). False when the request must be read in full first.
  bool answerEarly(const DavRequest &request, size_t announcedLength, bool lengthKnown,
                   DavResponse *response);
  // The body limit for this request's method.
  size_t bodyLimit(const std::string &method) const;

  void handle(const DavRequest &request, DavResponse *response);

 private:
  void options(DavResponse *response);
  void get(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void put(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void remove(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void propfind(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void proppatch(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void report(const DavRequest &request, const DavTarget &target, DavResponse *response);
  void multiget(const ReportRequest &report, const PropContext &context, DavResponse *response);
  void query(const DavRequest &request, const ReportRequest &report, const PropContext &context,
             DavResponse *response);
  void syncCollection(const ReportRequest &report, const PropContext &context, DavResponse *response);

  // Room for a listing of every card: the size of the largest so far, so that the answer for
  // a large book is not copied over and over as it grows.
  void reserve(std::string *body, size_t atLeast = 0);
  void remember(const std::string &body);

  const DavConfig &config_;
  CardCollection &collection_;
  std::function<void(const std::string &)> log_;
  size_t largestListing_ = 0;
};

}  // namespace carddav

#endif
