#include "DavDriver.h"

#include <chrono>
#include <set>

#include "BenchProcess.h"
#include "Cards.h"
#include "MultiStatus.h"

namespace davbench {

namespace {

const char kXmlHeaders[] = "Content-Type: application/xml; charset=utf-8\r\n";

const char kPropfindEtags[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:getetag/></d:prop></d:propfind>";

const char kPropfindSyncToken[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:sync-token/></d:prop></d:propfind>";

std::string appendEscaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

MultiStatus parse(const Response &response, const std::string &what) {
  MultiStatus status;
  std::string error;
  if (response.status != 207)
    throw DavFailure(what + ": status " + std::to_string(response.status) +
                     " where 207 was due: " + response.body.substr(0, 300));
  if (!parseMultiStatus(response.body, &status, &error)) throw DavFailure(what + ": " + error);
  return status;
}

// The entries for cards: every one but the collection's own.
std::vector<DavEntry> Cards(const MultiStatus &status, const std::string &collection) {
  std::vector<DavEntry> cards;
  for (const DavEntry &entry : status.entries)
    if (entry.href != collection && entry.href + "/" != collection) cards.push_back(entry);
  return cards;
}

void checkCount(const std::vector<DavEntry> &cards, size_t count, const std::string &what) {
  if (cards.size() != count)
    throw DavFailure(what + ": " + std::to_string(cards.size()) + " cards where " + std::to_string(count) +
                     " were due");
}

}  // namespace

DavDriver::DavDriver(const DavPeer &peer)
    : peer_(peer), client_(peer.port, basicAuthorization(peer.user, peer.password)) {}

Response DavDriver::send(const std::string &method, const std::string &path, const std::string &headers,
                         const std::string &body, double *seconds) {
  Response response;
  auto start = std::chrono::steady_clock::now();
  const bool answered = client_.exchange(method, path, headers, body, &response);
  if (seconds != nullptr) *seconds = bench::seconds(start);
  if (!answered) throw DavFailure(peer_.name + ": " + client_.error());
  return response;
}

std::string DavDriver::HrefOf(const std::vector<std::string> &hrefs, const std::string &uid) {
  for (const std::string &href : hrefs)
    if (href.find(uid) != std::string::npos) return href;
  throw DavFailure("no card named after UID " + uid + " in the listing");
}

double DavDriver::listEtags(size_t count, std::vector<std::string> *hrefs, std::string *answer) {
  double seconds;
  Response response =
      send("PROPFIND", peer_.collection, std::string("Depth: 1\r\n") + kXmlHeaders, kPropfindEtags, &seconds);
  const std::string what = peer_.name + " PROPFIND depth 1";
  std::vector<DavEntry> cards = Cards(parse(response, what), peer_.collection);
  checkCount(cards, count, what);
  std::set<std::string> distinct;
  hrefs->clear();
  for (const DavEntry &card : cards) {
    if (card.status != 200 || card.etag.empty())
      throw DavFailure(what + ": " + card.href + " came without its ETag (status " +
                       std::to_string(card.status) + ")");
    distinct.insert(card.href);
    hrefs->push_back(card.href);
  }
  if (distinct.size() != count) throw DavFailure(what + ": the same card named twice");
  if (answer != nullptr) *answer = response.body;
  return seconds;
}

double DavDriver::multiget(const std::vector<std::string> &hrefs) {
  std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<c:addressbook-multiget xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\">"
      "<d:prop><d:getetag/><c:address-data/></d:prop>";
  for (const std::string &href : hrefs) body += "<d:href>" + appendEscaped(href) + "</d:href>";
  body += "</c:addressbook-multiget>";
  double seconds;
  Response response =
      send("REPORT", peer_.collection, std::string("Depth: 0\r\n") + kXmlHeaders, body, &seconds);
  const std::string what = peer_.name + " addressbook-multiget";
  std::vector<DavEntry> cards = Cards(parse(response, what), peer_.collection);
  checkCount(cards, hrefs.size(), what);
  for (const DavEntry &card : cards)
    if (card.status != 200 || card.etag.empty() || card.addressData.find("BEGIN:VCARD") == std::string::npos)
      throw DavFailure(what + ": " + card.href + " came without its ETag or text");
  return seconds;
}

double DavDriver::queryEmail(const std::string &text, size_t matches) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<c:addressbook-query xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\">"
      "<d:prop><d:getetag/><c:address-data/></d:prop>"
      "<c:filter><c:prop-filter name=\"EMAIL\">"
      "<c:text-match collation=\"i;unicode-casemap\" match-type=\"contains\">" +
      appendEscaped(text) + "</c:text-match></c:prop-filter></c:filter></c:addressbook-query>";
  double seconds;
  Response response =
      send("REPORT", peer_.collection, std::string("Depth: 1\r\n") + kXmlHeaders, body, &seconds);
  const std::string what = peer_.name + " addressbook-query";
  std::vector<DavEntry> cards = Cards(parse(response, what), peer_.collection);
  checkCount(cards, matches, what);
  for (const DavEntry &card : cards)
    if (card.status != 200 || card.addressData.find(text) == std::string::npos)
      throw DavFailure(what + ": " + card.href + " does not hold " + text);
  return seconds;
}

std::string DavDriver::syncToken() {
  Response response = send("PROPFIND", peer_.collection, std::string("Depth: 0\r\n") + kXmlHeaders,
                           kPropfindSyncToken, nullptr);
  const std::string what = peer_.name + " PROPFIND sync-token";
  MultiStatus status = parse(response, what);
  if (status.entries.size() != 1 || status.syncToken.empty())
    throw DavFailure(what + ": no token in " + response.body);
  return status.syncToken;
}

double DavDriver::syncAfterChange(const std::string &token, const std::string &href, int index, int revision,
                                  std::string *answer) {
  Response stored =
      send("PUT", href, "Content-Type: text/vcard; charset=utf-8\r\n", cardText(index, revision), nullptr);
  if (stored.status != 204 && stored.status != 200 && stored.status != 201)
    throw DavFailure(peer_.name + " PUT of a changed card: status " + std::to_string(stored.status));
  return syncReport(token, href, answer);
}

double DavDriver::syncReport(const std::string &token, const std::string &href, std::string *answer) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" +
      appendEscaped(token) +
      "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
      "</d:sync-collection>";
  double seconds;
  Response response = send("REPORT", peer_.collection, kXmlHeaders, body, &seconds);
  const std::string what = peer_.name + " sync-collection";
  MultiStatus status = parse(response, what);
  std::vector<DavEntry> cards = Cards(status, peer_.collection);
  if (cards.size() != 1 || cards[0].href != href || cards[0].status != 200 || cards[0].etag.empty())
    throw DavFailure(what + ": the one changed card " + href + " was due, got " +
                     std::to_string(cards.size()) + " entries" +
                     (cards.empty() ? "" : ", the first " + cards[0].href));
  if (status.syncToken.empty() || status.syncToken == token) throw DavFailure(what + ": no new token");
  if (answer != nullptr) *answer = response.body;
  return seconds;
}

double DavDriver::putNew(int index) {
  double seconds;
  Response response =
      send("PUT", peer_.collection + cardUid(index) + ".vcf",
           "Content-Type: text/vcard; charset=utf-8\r\nIf-None-Match: *\r\n", cardText(index), &seconds);
  if (response.status != 201 && response.status != 204)
    throw DavFailure(peer_.name + " PUT of a new card: status " + std::to_string(response.status));
  return seconds;
}

}  // namespace davbench
