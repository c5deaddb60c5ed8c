/* DAV:response elements for the service's resources: which properties each resource has,
 * their values, and the 404 propstat for the rest. Built once per request from what the
 * request asks, so that writing one card of a 100,000-card listing is a few appends. */
#ifndef BOOKD_CARDDAV_DAVPROPERTIES_H
#define BOOKD_CARDDAV_DAVPROPERTIES_H

#include <string>

#include "CardCollection.h"
#include "DavConfig.h"
#include "DavPath.h"
#include "DavRequestBody.h"

namespace carddav {

// The sync token as clients see it: a URI around the collection's opaque token.
std::string syncTokenUri(const std::string &token);
// The collection's token inside a URI from syncTokenUri; false for anything else.
bool tokenOfUri(const std::string &uri, std::string *token);
// "\"<version>-<representation>\"", representation 3 or 4.
std::string etag(uint64_t version, int representation);
// An HTTP date (RFC 7231 IMF-fixdate).
std::string httpDate(int64_t unixSeconds);

// The context every property value is drawn from.
struct PropContext {
  const DavConfig *config;
  CardCollection *collection;
  bool writable;
  std::string user;
  int representation;  // 3 or 4: which ETag (and address data) cards show
};

class PropWriter {
 public:
  // report: address-data is a property the request may have (REPORTs only).
  PropWriter(const PropContext &context, const PropSelection &selection, bool report);

  // One DAV:response for a resource that is not a card; href is written as given (encoded).
  void writeResource(std::string *out, DavTarget::Kind kind, const std::string &href);
  // One DAV:response for a card; hrefXml is the href already escaped for XML. text is the
  // card in the context's representation, or null when address-data was not read.
  void writeCard(std::string *out, const std::string &hrefXml, const CardInfo &info, const std::string *text);

  bool wantsAddressData() const { return wantsAddressData_; }

 private:
  void writeValue(std::string *out, DavTarget::Kind kind, PropId id, const CardInfo *info,
                  const std::string *text);
  const std::string &syncToken();

  const PropContext &context_;
  const PropSelection &selection_;
  bool report_;
  bool wantsAddressData_ = false;
  std::string cardMissing_;  // the 404 propstat every card shares, or empty
  bool cardFound_ = true;    // whether a card has any of the properties asked for
  std::string token_;
  bool haveToken_ = false;
};

// Writes a DAV:response holding just a status, e.g. "HTTP/1.1 404 Not Found".
void writeStatusResponse(std::string *out, const std::string &hrefXml, const char *status);

}  // namespace carddav

#endif
