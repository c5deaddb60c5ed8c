/* The XML bodies of PROPFIND, PROPPATCH and REPORT, read with libxml2 into what the handler
 * needs and nothing more. Documents with a DOCTYPE are refused unread (no DTD, no entity of
 * any kind is ever loaded or expanded), the network is off, and libxml2's own depth limit
 * (256) stands; the handler refuses bodies over its size limit before they get here. */
#ifndef BOOKD_CARDDAV_DAVREQUESTBODY_H
#define BOOKD_CARDDAV_DAVREQUESTBODY_H

#include <map>
#include <string>
#include <vector>

#include "CardFilter.h"

namespace carddav {

// The properties the service knows; everything else is kUnknown and answered 404.
enum class PropId {
  kUnknown,
  kResourceType,
  kDisplayName,
  kGetEtag,
  kGetContentType,
  kGetLastModified,
  kGetCtag,
  kSyncToken,
  kSupportedReportSet,
  kCurrentUserPrivilegeSet,
  kCurrentUserPrincipal,
  kPrincipalUrl,
  kOwner,
  kAddressbookHomeSet,
  kSupportedAddressData,
  kMaxResourceSize,
  kSupportedCollationSet,
  kAddressData,  // in REPORTs only
};

struct PropName {
  PropId id = PropId::kUnknown;
  std::string ns;    // namespace URI; empty for none
  std::string name;  // local name
};

// What a PROPFIND or REPORT asks for.
struct PropSelection {
  enum Mode { kProps, kAllProp, kPropName };
  Mode mode = kAllProp;
  std::vector<PropName> props;  // kProps: the props asked for; kAllProp: DAV:include's
  // CARDDAV:address-data: its version (0 when not given: the Accept header's or 3.0) and the
  // vCard properties it restricts the card to (empty: all), mapped to their novalue flag.
  int addressDataVersion = 0;
  std::map<std::string, bool> addressDataProps;
};

struct BodyError {
  int status = 400;
  std::string condition;  // raw XML of a precondition element for a DAV:error body, or empty
  std::string message;
};

struct ReportRequest {
  enum Kind { kMultiget, kQuery, kSyncCollection, kUnsupported };
  Kind kind = kUnsupported;
  PropSelection selection;
  std::vector<std::string> hrefs;  // multiget, as sent
  CardFilter filter;               // query
  long limit = -1;                 // query and sync: DAV:limit / CARDDAV:limit nresults, -1 none
  std::string syncToken;           // sync: as sent, possibly empty
  std::string syncLevel;           // sync: "1" or "infinite"
};

// An empty body asks for allprop (RFC 4918 9.1).
bool parsePropfind(const std::string &body, PropSelection *selection, BodyError *error);
// The properties a PROPPATCH sets or removes.
bool parseProppatch(const std::string &body, std::vector<PropName> *props, BodyError *error);
bool parseReport(const std::string &body, ReportRequest *report, BodyError *error);

// Must be called once before the first parse (libxml2's global set-up).
void initXmlReading();

}  // namespace carddav

#endif
