#include "DavProperties.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "VCardText.h"
#include "XmlOut.h"

namespace carddav {

namespace {

const char kSyncTokenPrefix[] = "http://kindex.invalid/sync/";
const char kOk[] = "<d:status>HTTP/1.1 200 OK</d:status></d:propstat>";
const char kNotFound[] = "<d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>";

// The qualified element name of each known property, in PropId order.
const char *const kQualified[] = {
    "",
    "d:resourcetype",
    "d:displayname",
    "d:getetag",
    "d:getcontenttype",
    "d:getlastmodified",
    "cs:getctag",
    "d:sync-token",
    "d:supported-report-set",
    "d:current-user-privilege-set",
    "d:current-user-principal",
    "d:principal-URL",
    "d:owner",
    "c:addressbook-home-set",
    "c:supported-address-data",
    "c:max-resource-size",
    "c:supported-collation-set",
    "c:address-data",
};

const PropId kAllIds[] = {
    PropId::kResourceType,
    PropId::kDisplayName,
    PropId::kGetEtag,
    PropId::kGetContentType,
    PropId::kGetLastModified,
    PropId::kGetCtag,
    PropId::kSyncToken,
    PropId::kSupportedReportSet,
    PropId::kCurrentUserPrivilegeSet,
    PropId::kCurrentUserPrincipal,
    PropId::kPrincipalUrl,
    PropId::kOwner,
    PropId::kAddressbookHomeSet,
    PropId::kSupportedAddressData,
    PropId::kMaxResourceSize,
    PropId::kSupportedCollationSet,
};

// What allprop gives; the rest are live properties RFC 4918, 3744, 5397, 6352 and 6578 keep out
// of allprop.
bool inAllProp(PropId id) {
  return id == PropId::kResourceType || id == PropId::kDisplayName || id == PropId::kGetEtag ||
         id == PropId::kGetContentType || id == PropId::kGetLastModified || id == PropId::kGetCtag;
}

bool applies(DavTarget::Kind kind, PropId id, bool report) {
  switch (id) {
    case PropId::kResourceType:
    case PropId::kCurrentUserPrivilegeSet:
    case PropId::kCurrentUserPrincipal:
      return true;
    case PropId::kDisplayName:
      return kind == DavTarget::kPrincipal || kind == DavTarget::kCollection;
    case PropId::kGetEtag:
    case PropId::kGetContentType:
    case PropId::kGetLastModified:
      return kind == DavTarget::kCard;
    case PropId::kGetCtag:
    case PropId::kSyncToken:
    case PropId::kSupportedReportSet:
    case PropId::kSupportedAddressData:
    case PropId::kMaxResourceSize:
    case PropId::kSupportedCollationSet:
      return kind == DavTarget::kCollection;
    case PropId::kPrincipalUrl:
    case PropId::kAddressbookHomeSet:
      return kind == DavTarget::kPrincipal;
    case PropId::kOwner:
      return kind == DavTarget::kHome || kind == DavTarget::kCollection;
    case PropId::kAddressData:
      return report && kind == DavTarget::kCard;
    case PropId::kUnknown:
      return false;
  }
  return false;
}

void writeEmpty(std::string *out, const PropName &prop) {
  if (prop.id != PropId::kUnknown) {
    out->push_back('<');
    out->append(kQualified[static_cast<int>(prop.id)]);
    out->append("/>");
  } else if (prop.ns.empty()) {
    out->append("<" + prop.name + " xmlns=\"\"/>");
  } else {
    out->append("<x:" + prop.name + " xmlns:x=\"");
    appendEscaped(out, prop.ns);
    out->append("\"/>");
  }
}

void openElement(std::string *out, PropId id) {
  out->push_back('<');
  out->append(kQualified[static_cast<int>(id)]);
  out->push_back('>');
}

void closeElement(std::string *out, PropId id) {
  out->append("</");
  out->append(kQualified[static_cast<int>(id)]);
  out->push_back('>');
}

void appendNumber(std::string *out, uint64_t value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) out->push_back(digits[--n]);
}

}  // namespace

std::string syncTokenUri(const std::string &token) {
  return kSyncTokenPrefix + token;
}

bool tokenOfUri(const std::string &uri, std::string *token) {
  const size_t n = sizeof kSyncTokenPrefix - 1;
  if (uri.compare(0, n, kSyncTokenPrefix) != 0 || uri.size() == n) return false;
  *token = uri.substr(n);
  return true;
}

std::string etag(uint64_t version, int representation) {
  std::string tag = "\"";
  appendNumber(&tag, version);
  tag += representation == 4 ? "-4\"" : "-3\"";
  return tag;
}

std::string httpDate(int64_t unixSeconds) {
  // A listing asks for the same few times over and over: the cards of one save share its time.
  static int64_t lastSeconds = INT64_MIN;
  static std::string lastDate;
  if (unixSeconds == lastSeconds) return lastDate;
  static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  lastSeconds = unixSeconds;
  lastDate = buffer;
  return lastDate;
}

void writeStatusResponse(std::string *out, const std::string &hrefXml, const char *status) {
  out->append("<d:response><d:href>");
  out->append(hrefXml);
  out->append("</d:href><d:status>");
  out->append(status);
  out->append("</d:status></d:response>\n");
}

PropWriter::PropWriter(const PropContext &context, const PropSelection &selection, bool report)
    : context_(context), selection_(selection), report_(report) {
  for (const PropName &prop : selection_.props)
    if (prop.id == PropId::kAddressData && report_) wantsAddressData_ = true;
  if (selection_.mode != PropSelection::kPropName) {
    std::string missing;
    cardFound_ = selection_.mode == PropSelection::kAllProp;
    for (const PropName &prop : selection_.props) {
      if (applies(DavTarget::kCard, prop.id, report_)) {
        cardFound_ = true;
      } else {
        writeEmpty(&missing, prop);
      }
    }
    if (!missing.empty()) cardMissing_ = "<d:propstat><d:prop>" + missing + "</d:prop>" + kNotFound;
  }
}

const std::string &PropWriter::syncToken() {
  if (!haveToken_) {
    token_ = context_.collection->syncToken();
    haveToken_ = true;
  }
  return token_;
}

void PropWriter::writeValue(std::string *out, DavTarget::Kind kind, PropId id, const CardInfo *info,
                            const std::string *text) {
  const char *principalHref = "<d:href>/principal/</d:href>";
  switch (id) {
    case PropId::kResourceType:
      if (kind == DavTarget::kCard) {
        out->append("<d:resourcetype/>");
        return;
      }
      openElement(out, id);
      out->append("<d:collection/>");
      if (kind == DavTarget::kPrincipal) out->append("<d:principal/>");
      if (kind == DavTarget::kCollection) out->append("<c:addressbook/>");
      break;
    case PropId::kDisplayName:
      openElement(out, id);
      appendEscaped(out, kind == DavTarget::kCollection ? context_.config->displayName : context_.user);
      break;
    case PropId::kGetEtag:
      openElement(out, id);
      out->append("&quot;");
      appendNumber(out, info->version);
      out->append(context_.representation == 4 ? "-4&quot;" : "-3&quot;");
      break;
    case PropId::kGetContentType:
      openElement(out, id);
      out->append("text/vcard; charset=utf-8");
      break;
    case PropId::kGetLastModified:
      openElement(out, id);
      out->append(httpDate(info->modified));
      break;
    case PropId::kGetCtag:
      openElement(out, id);
      appendEscaped(out, syncToken());
      break;
    case PropId::kSyncToken:
      openElement(out, id);
      appendEscaped(out, syncTokenUri(syncToken()));
      break;
    case PropId::kSupportedReportSet:
      openElement(out, id);
      for (const char *report : {"c:addressbook-multiget", "c:addressbook-query", "d:sync-collection"})
        out->append(std::string("<d:supported-report><d:report><") + report +
                    "/></d:report></d:supported-report>");
      break;
    case PropId::kCurrentUserPrivilegeSet:
      openElement(out, id);
      out->append(
          "<d:privilege><d:read/></d:privilege><d:privilege><d:read-current-user-privilege-set/></"
          "d:privilege>");
      if (context_.writable)
        out->append(
            "<d:privilege><d:write/></d:privilege><d:privilege><d:write-properties/></d:privilege>"
            "<d:privilege><d:write-content/></d:privilege><d:privilege><d:bind/></d:privilege>"
            "<d:privilege><d:unbind/></d:privilege>");
      break;
    case PropId::kCurrentUserPrincipal:
    case PropId::kPrincipalUrl:
    case PropId::kOwner:
      openElement(out, id);
      out->append(principalHref);
      break;
    case PropId::kAddressbookHomeSet:
      openElement(out, id);
      out->append("<d:href>/addressbooks/</d:href>");
      break;
    case PropId::kSupportedAddressData:
      openElement(out, id);
      out->append(
          "<c:address-data-type content-type=\"text/vcard\" version=\"3.0\"/>"
          "<c:address-data-type content-type=\"text/vcard\" version=\"4.0\"/>");
      break;
    case PropId::kMaxResourceSize:
      openElement(out, id);
      appendNumber(out, context_.config->maxResourceSize);
      break;
    case PropId::kSupportedCollationSet:
      openElement(out, id);
      out->append(
          "<c:supported-collation>i;ascii-casemap</c:supported-collation>"
          "<c:supported-collation>i;octet</c:supported-collation>"
          "<c:supported-collation>i;unicode-casemap</c:supported-collation>");
      break;
    case PropId::kAddressData:
      openElement(out, id);
      if (selection_.addressDataProps.empty()) {
        appendEscaped(out, *text);
      } else {
        appendEscaped(out, selectProperties(*text, selection_.addressDataProps));
      }
      break;
    case PropId::kUnknown:
      return;
  }
  closeElement(out, id);
}

void PropWriter::writeResource(std::string *out, DavTarget::Kind kind, const std::string &href) {
  out->append("<d:response><d:href>");
  appendHref(out, href);
  out->append("</d:href>");
  std::string found, missing;
  if (selection_.mode == PropSelection::kPropName) {
    for (PropId id : kAllIds)
      if (applies(kind, id, false)) found.append(std::string("<") + kQualified[static_cast<int>(id)] + "/>");
  } else {
    if (selection_.mode == PropSelection::kAllProp)
      for (PropId id : kAllIds)
        if (inAllProp(id) && applies(kind, id, false)) writeValue(&found, kind, id, nullptr, nullptr);
    for (const PropName &prop : selection_.props) {
      bool already = selection_.mode == PropSelection::kAllProp && inAllProp(prop.id);
      if (already && applies(kind, prop.id, false)) continue;
      if (applies(kind, prop.id, false)) {
        writeValue(&found, kind, prop.id, nullptr, nullptr);
      } else {
        writeEmpty(&missing, prop);
      }
    }
  }
  if (!found.empty()) out->append("<d:propstat><d:prop>" + found + "</d:prop>" + kOk);
  if (!missing.empty()) out->append("<d:propstat><d:prop>" + missing + "</d:prop>" + kNotFound);
  out->append("</d:response>\n");
}

void PropWriter::writeCard(std::string *out, const std::string &hrefXml, const CardInfo &info,
                           const std::string *text) {
  out->append("<d:response><d:href>");
  out->append(hrefXml);
  out->append("</d:href>");
  if (!cardFound_) {
    out->append(cardMissing_);
    out->append("</d:response>\n");
    return;
  }
  out->append("<d:propstat><d:prop>");
  const DavTarget::Kind kind = DavTarget::kCard;
  if (selection_.mode == PropSelection::kPropName) {
    for (PropId id : kAllIds)
      if (applies(kind, id, false)) {
        out->push_back('<');
        out->append(kQualified[static_cast<int>(id)]);
        out->append("/>");
      }
  } else {
    if (selection_.mode == PropSelection::kAllProp)
      for (PropId id : kAllIds)
        if (inAllProp(id) && applies(kind, id, false)) writeValue(out, kind, id, &info, text);
    for (const PropName &prop : selection_.props) {
      if (!applies(kind, prop.id, report_)) continue;
      if (selection_.mode == PropSelection::kAllProp && inAllProp(prop.id)) continue;
      if (prop.id == PropId::kAddressData && !text) continue;
      writeValue(out, kind, prop.id, &info, text);
    }
  }
  out->append("</d:prop>");
  out->append(kOk);
  out->append(cardMissing_);
  out->append("</d:response>\n");
}

}  // namespace carddav
