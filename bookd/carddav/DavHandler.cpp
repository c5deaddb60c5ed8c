#include "DavHandler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "VCardText.h"
#include "XmlOut.h"

namespace carddav {

namespace {

const char kXmlType[] = "application/xml; charset=utf-8";
const char kVcardType[] = "text/vcard; charset=utf-8";
const char kAllow[] = "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, PROPPATCH, REPORT";

bool isWriteMethod(const std::string &method) {
  for (const char *m : {"PUT", "DELETE", "PROPPATCH", "MKCOL", "MKCALENDAR", "MOVE", "COPY", "ACL", "LOCK",
                        "UNLOCK", "POST", "PATCH", "BIND", "UNBIND", "REBIND"})
    if (method == m) return true;
  return false;
}

std::string lower(const std::string &s) {
  std::string l = s;
  for (char &c : l)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return l;
}

std::string trimmedText(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> splitList(const std::string &value) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    std::string item = trimmedText(value.substr(start, comma - start));
    if (!item.empty()) items.push_back(item);
    start = comma + 1;
  }
  return items;
}

void plain(DavResponse *response, int status, const std::string &text) {
  response->status = status;
  response->setHeader("Content-Type", "text/plain; charset=utf-8");
  response->body = text + "\n";
}

void errorAnswer(DavResponse *response, int status, const std::string &condition,
                 const std::string &message = "") {
  response->status = status;
  response->setHeader("Content-Type", kXmlType);
  std::string inner = condition;
  if (!message.empty()) {
    inner += "<d:responsedescription>";
    appendEscaped(&inner, message);
    inner += "</d:responsedescription>";
  }
  response->body = errorBody(inner);
}

void bodyFailure(DavResponse *response, const BodyError &error) {
  if (!error.condition.empty()) {
    errorAnswer(response, error.status, error.condition, error.message);
  } else {
    plain(response, error.status, error.message);
  }
}

// vCard 4.0 when the Accept header's first text/vcard range with a version asks for it.
int acceptedRepresentation(const DavRequest &request) {
  const char *accept = request.header("Accept");
  if (!accept) return 3;
  for (const std::string &range : splitList(lower(accept))) {
    if (range.compare(0, 10, "text/vcard") != 0) continue;
    size_t version = range.find("version=");
    if (version == std::string::npos) continue;
    std::string value = range.substr(version + 8);
    if (!value.empty() && value[0] == '"') value = value.substr(1);
    return value.compare(0, 1, "4") == 0 ? 4 : 3;
  }
  return 3;
}

// The stored version an ETag of ours names; false for a weak or foreign tag.
bool versionOfEtag(const std::string &tag, uint64_t *version) {
  if (tag.size() < 5 || tag.front() != '"' || tag.back() != '"') return false;
  std::string inner = tag.substr(1, tag.size() - 2);
  size_t dash = inner.rfind('-');
  if (dash == std::string::npos || dash == 0) return false;
  std::string rep = inner.substr(dash + 1);
  if (rep != "3" && rep != "4") return false;
  for (size_t i = 0; i < dash; ++i)
    if (inner[i] < '0' || inner[i] > '9') return false;
  *version = std::strtoull(inner.substr(0, dash).c_str(), nullptr, 10);
  return true;
}

// If-Match / If-None-Match: * into the condition a save is made under.
Condition conditionOf(const DavRequest &request) {
  Condition condition;
  if (const char *ifMatch = request.header("If-Match")) {
    std::vector<std::string> tags = splitList(ifMatch);
    if (tags.size() == 1 && tags[0] == "*") {
      condition.kind = Condition::kPresent;
      return condition;
    }
    // A list of tags none of which is ours still must fail: kVersionIn with no version.
    condition.kind = Condition::kVersionIn;
    for (const std::string &tag : tags) {
      uint64_t version;
      if (versionOfEtag(tag, &version)) condition.versions.push_back(version);
    }
    return condition;
  }
  if (const char *ifNoneMatch = request.header("If-None-Match")) {
    if (trimmedText(ifNoneMatch) == "*") condition.kind = Condition::kAbsent;
  }
  return condition;
}

// If-None-Match with tags: whether one names the card's current version.
bool noneMatchHits(const DavRequest &request, const CardInfo &info) {
  const char *ifNoneMatch = request.header("If-None-Match");
  if (!ifNoneMatch) return false;
  for (std::string tag : splitList(ifNoneMatch)) {
    if (tag == "*") return true;
    if (tag.compare(0, 2, "W/") == 0) tag = tag.substr(2);  // If-None-Match compares weakly
    uint64_t version;
    if (versionOfEtag(tag, &version) && version == info.version) return true;
  }
  return false;
}

std::string depthOf(const DavRequest &request) {
  const char *depth = request.header("Depth");
  return depth ? lower(trimmedText(depth)) : "";
}

void multistatus(DavResponse *response, std::string *body) {
  body->append("</d:multistatus>\n");
  response->status = 207;
  response->setHeader("Content-Type", kXmlType);
  response->body.swap(*body);
}

bool validVcardText(const std::string &text) {
  // One vCard: BEGIN:VCARD first and END:VCARD last (blank lines around are tolerated), and
  // no second BEGIN:VCARD at the start of a line.
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || strncasecmp(text.c_str() + first, "BEGIN:VCARD", 11) != 0) return false;
  size_t last = text.find_last_not_of(" \t\r\n");
  if (last + 1 < 9 || strncasecmp(text.c_str() + last + 1 - 9, "END:VCARD", 9) != 0) return false;
  for (size_t pos = text.find('\n'); pos != std::string::npos; pos = text.find('\n', pos + 1))
    if (strncasecmp(text.c_str() + pos + 1, "BEGIN:VCARD", 11) == 0) return false;
  return true;
}

}  // namespace

DavHandler::DavHandler(const DavConfig &config, CardCollection &collection,
                       std::function<void(const std::string &)> log)
    : config_(config), collection_(collection), log_(std::move(log)) {}

void DavHandler::reserve(std::string *body, size_t atLeast) {
  body->reserve(std::max(atLeast, largestListing_ + largestListing_ / 8));
}

void DavHandler::remember(const std::string &body) {
  largestListing_ = std::max(largestListing_, body.size());
}

size_t DavHandler::bodyLimit(const std::string &method) const {
  return method == "PUT" ? config_.maxResourceSize : config_.maxXmlBodySize;
}

bool DavHandler::answerEarly(const DavRequest &request, size_t announcedLength, bool lengthKnown,
                             DavResponse *response) {
  if (!request.writable && isWriteMethod(request.method)) {
    plain(response, 403, "This login may only read the address book.");
    return true;
  }
  if (lengthKnown && announcedLength > bodyLimit(request.method)) {
    if (request.method == "PUT") {
      errorAnswer(response, 413, "<c:max-resource-size/>", "the card is larger than the server takes");
    } else {
      plain(response, 413, "The request body is too large.");
    }
    return true;
  }
  return false;
}

void DavHandler::handle(const DavRequest &request, DavResponse *response) {
  const DavTarget target = parseTarget(request.path);
  switch (target.kind) {
    case DavTarget::kTooLong:
      return plain(response, 414, "The path is too long.");
    case DavTarget::kBad:
      return plain(response, 400, "The path is not one this server has.");
    case DavTarget::kWellKnown:
      response->status = 301;
      response->setHeader("Location", "/");
      return;
    default:
      break;
  }
  collection_.catchUp();
  const std::string &m = request.method;
  if (m == "OPTIONS") return options(response);
  if (target.kind == DavTarget::kNotFound && m != "PUT" && m != "MKCOL" && m != "MKCALENDAR")
    return plain(response, 404, "Not found.");
  if (m == "GET" || m == "HEAD") return get(request, target, response);
  if (m == "PUT") return put(request, target, response);
  if (m == "DELETE") return remove(request, target, response);
  if (m == "PROPFIND") return propfind(request, target, response);
  if (m == "PROPPATCH") return proppatch(request, target, response);
  if (m == "REPORT") return report(request, target, response);
  if (isWriteMethod(m) && m != "LOCK" && m != "UNLOCK" && m != "POST" && m != "PATCH")
    return plain(response, 403, "This server does not " + m + " here.");
  if (isWriteMethod(m) || m == "TRACE" || m == "SEARCH") {
    response->setHeader("Allow", kAllow);
    return plain(response, 405, "Method not allowed.");
  }
  plain(response, 501, "Method not implemented.");
}

void DavHandler::options(DavResponse *response) {
  response->status = 200;
  response->setHeader("DAV", "1, 3, addressbook");
  response->setHeader("Allow", kAllow);
}

void DavHandler::get(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  if (target.kind != DavTarget::kCard)
    return plain(response, 200, "This is a CardDAV address book; open it with a CardDAV client.");
  const int representation = acceptedRepresentation(request);
  bool found = false;
  collection_.read({target.name}, representation,
                   [&](const std::string &, const CardInfo *info, const std::string *text) {
                     if (!info) return;
                     found = true;
                     response->setHeader("ETag", etag(info->version, representation));
                     response->setHeader("Last-Modified", httpDate(info->modified));
                     if (noneMatchHits(request, *info)) {
                       response->status = 304;
                       return;
                     }
                     response->status = 200;
                     response->setHeader("Content-Type", kVcardType);
                     response->body = *text;
                   });
  if (!found) plain(response, 404, "No such card.");
}

void DavHandler::put(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  if (target.kind == DavTarget::kNotFound) return plain(response, 409, "Cards go into /addressbooks/book/.");
  if (target.kind != DavTarget::kCard) {
    response->setHeader("Allow", "OPTIONS, GET, HEAD, PROPFIND, PROPPATCH, REPORT");
    return plain(response, 405, "Only cards can be written.");
  }
  if (request.body.size() > config_.maxResourceSize)
    return errorAnswer(response, 413, "<c:max-resource-size/>", "the card is larger than the server takes");
  if (const char *type = request.header("Content-Type")) {
    std::string media = lower(trimmedText(std::string(type).substr(0, std::string(type).find(';'))));
    if (media != "text/vcard" && media != "text/x-vcard" && media != "text/directory")
      return errorAnswer(response, 415, "<c:supported-address-data/>", "cards are text/vcard");
  }
  std::string text = request.body;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (!validVcardText(text))
    return errorAnswer(response, 400, "<c:valid-address-data/>", "the body is not one vCard");

  const Condition condition = conditionOf(request);
  if (condition.kind == Condition::kNone && request.header("If-None-Match")) {
    // If-None-Match with tags: not checked in the save's transaction (nothing needs that).
    CardInfo current;
    if (collection_.find(target.name, &current) && noneMatchHits(request, current))
      return plain(response, 412, "The card is at a version the request excluded.");
  }
  const PutResult result = collection_.put(target.name, text, condition);
  switch (result.outcome) {
    case PutResult::kCreated:
    case PutResult::kUpdated:
      response->status = result.outcome == PutResult::kCreated ? 201 : 204;
      if (result.storedAsSent) response->setHeader("ETag", etag(result.info.version, declaredVersion(text)));
      return;
    case PutResult::kPreconditionFailed:
      return plain(response, 412, "The card has changed since it was read.");
    case PutResult::kUidConflict: {
      std::string condition = "<c:no-uid-conflict><d:href>";
      appendHref(&condition, cardPath(result.otherName));
      condition += "</d:href></c:no-uid-conflict>";
      return errorAnswer(response, 409, condition, "another card has this UID");
    }
    case PutResult::kRefused:
      return errorAnswer(response, 403, "<c:valid-address-data/>", result.message);
    case PutResult::kBusy:
      response->setHeader("Retry-After", "2");
      return plain(response, 503, "The address book is busy; try again.");
    case PutResult::kFull:
      return plain(response, 507, "The address book's disk is full.");
    case PutResult::kFailed:
      break;
  }
  log_("CardDAV: saving " + target.name + " failed - " + result.message);
  plain(response, 500, "The card could not be saved.");
}

void DavHandler::remove(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  if (target.kind != DavTarget::kCard) return plain(response, 403, "Only cards can be deleted.");
  const Condition condition = conditionOf(request);
  const RemoveResult result = collection_.remove(target.name, condition);
  switch (result.outcome) {
    case RemoveResult::kRemoved:
      response->status = 204;
      return;
    case RemoveResult::kNotFound:
      return plain(response, 404, "No such card.");
    case RemoveResult::kPreconditionFailed:
      return plain(response, 412, "The card has changed since it was read.");
    case RemoveResult::kBusy:
      response->setHeader("Retry-After", "2");
      return plain(response, 503, "The address book is busy; try again.");
    case RemoveResult::kFailed:
      break;
  }
  log_("CardDAV: deleting " + target.name + " failed - " + result.message);
  plain(response, 500, "The card could not be deleted.");
}

void DavHandler::propfind(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  const std::string depth = depthOf(request);
  if (depth.empty() || depth == "infinity") return errorAnswer(response, 403, "<d:propfind-finite-depth/>");
  if (depth != "0" && depth != "1") return plain(response, 400, "Depth is 0, 1 or infinity.");
  PropSelection selection;
  BodyError error;
  if (!parsePropfind(request.body, &selection, &error)) return bodyFailure(response, error);

  const PropContext context{&config_, &collection_, request.writable, request.user,
                            acceptedRepresentation(request)};
  PropWriter writer(context, selection, false);
  std::string body;
  appendXmlStart(&body, "d:multistatus");
  if (target.kind == DavTarget::kCard) {
    CardInfo info;
    if (!collection_.find(target.name, &info)) return plain(response, 404, "No such card.");
    std::string href;
    appendHref(&href, cardPath(target.name));
    writer.writeCard(&body, href, info, nullptr);
    return multistatus(response, &body);
  }
  const char *self = target.kind == DavTarget::kRoot        ? "/"
                     : target.kind == DavTarget::kPrincipal ? kPrincipalPath
                     : target.kind == DavTarget::kHome      ? kHomePath
                                                            : kCollectionPath;
  writer.writeResource(&body, target.kind, self);
  if (depth == "1") {
    if (target.kind == DavTarget::kRoot) {
      writer.writeResource(&body, DavTarget::kPrincipal, kPrincipalPath);
      writer.writeResource(&body, DavTarget::kHome, kHomePath);
    } else if (target.kind == DavTarget::kHome) {
      writer.writeResource(&body, DavTarget::kCollection, kCollectionPath);
    } else if (target.kind == DavTarget::kCollection) {
      reserve(&body);
      std::string href;
      collection_.list([&](const CardInfo &info) {
        href.assign(kCollectionPath);
        appendHref(&href, info.name);
        writer.writeCard(&body, href, info, nullptr);
      });
      remember(body);
    }
  }
  multistatus(response, &body);
}

void DavHandler::proppatch(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  std::vector<PropName> props;
  BodyError error;
  if (!parseProppatch(request.body, &props, &error)) return bodyFailure(response, error);
  if (target.kind == DavTarget::kCard) {
    CardInfo info;
    if (!collection_.find(target.name, &info)) return plain(response, 404, "No such card.");
  }
  // Every property here is the server's own (the display name comes from its settings), so
  // each is refused, and so the whole update is (RFC 4918 9.2: all or nothing).
  std::string body;
  appendXmlStart(&body, "d:multistatus");
  body += "<d:response><d:href>";
  appendHref(&body, target.kind == DavTarget::kCard        ? cardPath(target.name)
                    : target.kind == DavTarget::kRoot      ? std::string("/")
                    : target.kind == DavTarget::kPrincipal ? std::string(kPrincipalPath)
                    : target.kind == DavTarget::kHome      ? std::string(kHomePath)
                                                           : std::string(kCollectionPath));
  body += "</d:href><d:propstat><d:prop>";
  for (const PropName &prop : props) {
    if (prop.ns.empty()) {
      body += "<" + prop.name + " xmlns=\"\"/>";
    } else {
      body += "<x:" + prop.name + " xmlns:x=\"";
      appendEscaped(&body, prop.ns);
      body += "\"/>";
    }
  }
  body +=
      "</d:prop><d:status>HTTP/1.1 403 Forbidden</d:status>"
      "<d:error><d:cannot-modify-protected-property/></d:error></d:propstat></d:response>\n";
  multistatus(response, &body);
}

void DavHandler::report(const DavRequest &request, const DavTarget &target, DavResponse *response) {
  ReportRequest report;
  BodyError error;
  if (!parseReport(request.body, &report, &error)) return bodyFailure(response, error);
  const bool onCollection = target.kind == DavTarget::kCollection;
  const bool supported =
      (report.kind == ReportRequest::kMultiget && (onCollection || target.kind == DavTarget::kCard)) ||
      (report.kind != ReportRequest::kMultiget && report.kind != ReportRequest::kUnsupported && onCollection);
  if (!supported) return errorAnswer(response, 403, "<d:supported-report/>");
  const int representation = report.selection.addressDataVersion ? report.selection.addressDataVersion
                                                                 : acceptedRepresentation(request);
  const PropContext context{&config_, &collection_, request.writable, request.user, representation};
  switch (report.kind) {
    case ReportRequest::kMultiget:
      return multiget(report, context, response);
    case ReportRequest::kQuery:
      return query(request, report, context, response);
    case ReportRequest::kSyncCollection:
      return syncCollection(report, context, response);
    case ReportRequest::kUnsupported:
      break;
  }
}

void DavHandler::multiget(const ReportRequest &report, const PropContext &context, DavResponse *response) {
  PropWriter writer(context, report.selection, true);
  std::string body;
  body.reserve(256 + report.hrefs.size() * (writer.wantsAddressData() ? 512 : 256));
  appendXmlStart(&body, "d:multistatus");
  std::vector<std::string> names;
  std::vector<std::string> hrefs;
  names.reserve(report.hrefs.size());
  hrefs.reserve(report.hrefs.size());
  for (const std::string &href : report.hrefs) {
    std::string hrefXml;
    appendEscaped(&hrefXml, href);
    DavTarget target = parseHref(href);
    if (target.kind != DavTarget::kCard) {
      writeStatusResponse(&body, hrefXml, "HTTP/1.1 404 Not Found");
      continue;
    }
    names.push_back(target.name);
    hrefs.push_back(hrefXml);
  }
  size_t index = 0;
  collection_.read(names, context.representation,
                   [&](const std::string &, const CardInfo *info, const std::string *text) {
                     const std::string &hrefXml = hrefs[index++];
                     if (!info) return writeStatusResponse(&body, hrefXml, "HTTP/1.1 404 Not Found");
                     writer.writeCard(&body, hrefXml, *info, text);
                   });
  multistatus(response, &body);
}

void DavHandler::query(const DavRequest &request, const ReportRequest &report, const PropContext &context,
                       DavResponse *response) {
  PropWriter writer(context, report.selection, true);
  std::string body;
  reserve(&body);
  appendXmlStart(&body, "d:multistatus");
  if (depthOf(request) != "0") {
    long matches = 0;
    bool truncated = false;
    std::string href;
    collection_.readAll(context.representation, [&](const CardInfo &info, const std::string &text) {
      if (!filterMatches(report.filter, text)) return true;
      if (report.limit >= 0 && matches == report.limit) {
        truncated = true;
        return false;
      }
      ++matches;
      href.assign(kCollectionPath);
      appendHref(&href, info.name);
      writer.writeCard(&body, href, info, &text);
      return true;
    });
    if (truncated)
      body +=
          "<d:response><d:href>/addressbooks/book/</d:href><d:status>HTTP/1.1 507 Insufficient "
          "Storage</d:status>"
          "<d:error><d:number-of-matches-within-limits/></d:error></d:response>\n";
    remember(body);
  }
  multistatus(response, &body);
}

void DavHandler::syncCollection(const ReportRequest &report, const PropContext &context,
                                DavResponse *response) {
  std::vector<CardInfo> changed;
  std::vector<std::string> removed;
  std::string newToken;
  if (report.syncToken.empty()) {
    collection_.list([&](const CardInfo &info) { changed.push_back(info); });
    newToken = collection_.syncToken();
  } else {
    std::string token;
    if (!tokenOfUri(report.syncToken, &token) ||
        !collection_.changesSince(
            token, [&](const CardInfo &info) { changed.push_back(info); },
            [&](const std::string &name) { removed.push_back(name); }, &newToken))
      return errorAnswer(response, 403, "<d:valid-sync-token/>");
  }
  // Truncating would need a token for a partial state, which the collection does not give.
  if (report.limit >= 0 && changed.size() + removed.size() > static_cast<size_t>(report.limit))
    return errorAnswer(response, 507, "<d:number-of-matches-within-limits/>");

  PropWriter writer(context, report.selection, true);
  std::string body;
  if (report.syncToken.empty()) {
    reserve(&body, 256 + changed.size() * 256);
  } else {
    body.reserve(256 + (changed.size() + removed.size()) * 256);
  }
  appendXmlStart(&body, "d:multistatus");
  std::string href;
  if (writer.wantsAddressData()) {
    std::vector<std::string> names;
    names.reserve(changed.size());
    for (const CardInfo &info : changed) names.push_back(info.name);
    collection_.read(names, context.representation,
                     [&](const std::string &name, const CardInfo *info, const std::string *text) {
                       href.assign(kCollectionPath);
                       appendHref(&href, name);
                       if (!info) return writeStatusResponse(&body, href, "HTTP/1.1 404 Not Found");
                       writer.writeCard(&body, href, *info, text);
                     });
  } else {
    for (const CardInfo &info : changed) {
      href.assign(kCollectionPath);
      appendHref(&href, info.name);
      writer.writeCard(&body, href, info, nullptr);
    }
  }
  for (const std::string &name : removed) {
    href.assign(kCollectionPath);
    appendHref(&href, name);
    writeStatusResponse(&body, href, "HTTP/1.1 404 Not Found");
  }
  body += "<d:sync-token>";
  appendEscaped(&body, syncTokenUri(newToken));
  body += "</d:sync-token>";
  if (report.syncToken.empty()) remember(body);
  multistatus(response, &body);
}

}  // namespace carddav
