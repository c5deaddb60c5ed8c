// Every kind of request the service answers, with its exact status, the headers that matter
// and the XML elements of its answer, each row on the same four cards (alice, bob, a group and
// one whose name needs encoding) logged in read-write.
#import "DavHarness.h"

#include <map>
#include <string>
#include <vector>

#include "DavXml.h"
#include "RequestRows.h"

namespace davtest {
namespace {

const std::string kDepth0 = "Depth: 0\r\n";
const std::string kDepth1 = "Depth: 1\r\n";
const std::string kVcard = "Content-Type: text/vcard; charset=utf-8\r\n";

std::string err(const std::string &condition) {
  return "/d:error/" + condition;
}

}  // namespace

std::vector<Row> propfindRows() {
  const std::string collectionProps =
      "<d:resourcetype/><d:displayname/><cs:getctag/><d:sync-token/><d:supported-report-set/>"
      "<c:supported-address-data/><c:max-resource-size/><d:current-user-privilege-set/><d:owner/>"
      "<c:supported-collation-set/><x:color/><d:getetag/>";
  const std::string c = kCollection;
  return {
      {"collection, depth 0, every property it has and two it has not",
       "PROPFIND",
       c,
       kDepth0,
       propfind(collectionProps),
       207,
       {responses(1), found(c, "d:resourcetype/d:collection"), found(c, "d:resourcetype/c:addressbook"),
        found(c, "d:displayname='Contacts & Co'"), found(c, "cs:getctag='m4'"),
        found(c, "d:sync-token='http://kindex.invalid/sync/m4'"),
        "count(" + found(c, "d:supported-report-set/d:supported-report/d:report/*") + ")=3",
        found(c, "d:supported-report-set//c:addressbook-multiget"),
        found(c, "d:supported-report-set//c:addressbook-query"),
        found(c, "d:supported-report-set//d:sync-collection"),
        found(c,
              "c:supported-address-data/c:address-data-type[@content-type='text/vcard' and @version='3.0']"),
        found(c, "c:supported-address-data/c:address-data-type[@version='4.0']"),
        found(c, "c:max-resource-size='4096'"), found(c, "d:current-user-privilege-set/d:privilege/d:write"),
        found(c, "d:current-user-privilege-set/d:privilege/d:read"), found(c, "d:owner/d:href='/principal/'"),
        found(c, "c:supported-collation-set[c:supported-collation='i;unicode-casemap']"),
        missing(c, "x:color"), missing(c, "d:getetag")},
       {{"content-type", "application/xml; charset=utf-8"}}},
      {"collection, depth 1: every card with its ETag, names encoded",
       "PROPFIND",
       c,
       kDepth1,
       propfind("<d:getetag/><d:resourcetype/>"),
       207,
       {responses(5), found(kAlice, "d:getetag='\"1-3\"'"), found(kBob, "d:getetag='\"2-3\"'"),
        found(kGroup, "d:getetag='\"3-3\"'"), found(kUmlaut, "d:getetag='\"4-3\"'"),
        found(kAlice, "d:resourcetype[not(*)]"), missing(c, "d:getetag")}},
      {"collection, depth 1 with Accept vCard 4.0: the 4.0 ETags",
       "PROPFIND",
       c,
       kDepth1 + "Accept: text/vcard; version=4.0\r\n",
       propfind("<d:getetag/>"),
       207,
       {responses(5), found(kAlice, "d:getetag='\"1-4\"'")}},
      {"collection, depth 1, only a property nobody has",
       "PROPFIND",
       c,
       kDepth1,
       propfind("<x:color/>"),
       207,
       {responses(5), "count(//d:propstat)=5", missing(kAlice, "x:color"),
        "not(//d:status='HTTP/1.1 200 OK')"}},
      {"card, allprop by empty body",
       "PROPFIND",
       kAlice,
       kDepth0,
       "",
       207,
       {responses(1), found(kAlice, "d:getetag='\"1-3\"'"),
        found(kAlice, "d:getcontenttype='text/vcard; charset=utf-8'"),
        found(kAlice, "d:getlastmodified='Tue, 14 Nov 2023 22:13:20 GMT'"), found(kAlice, "d:resourcetype"),
        "not(" + found(kAlice, "d:current-user-privilege-set") + ")"}},
      {"collection, allprop with include",
       "PROPFIND",
       c,
       kDepth0,
       std::string("<d:propfind") + kNamespaces +
           "><d:allprop/><d:include><d:sync-token/></d:include></d:propfind>",
       207,
       {found(c, "d:displayname"), found(c, "cs:getctag"), found(c, "d:sync-token"),
        "not(" + found(c, "c:max-resource-size") + ")"}},
      {"collection, propname",
       "PROPFIND",
       c,
       kDepth0,
       std::string("<d:propfind") + kNamespaces + "><d:propname/></d:propfind>",
       207,
       {found(c, "d:sync-token[not(node())]"), found(c, "c:max-resource-size[not(node())]"),
        "not(" + found(c, "d:getetag") + ")"}},
      {"card by its encoded name",
       "PROPFIND",
       kUmlaut,
       kDepth0,
       propfind("<d:getetag/>"),
       207,
       {found(kUmlaut, "d:getetag='\"4-3\"'")}},
      {"card name spelled with other escapes",
       "PROPFIND",
       "/addressbooks/book/m%c3%bcnchen wei%C3%9F.vcf",
       kDepth0,
       propfind("<d:getetag/>"),
       207,
       {found(kUmlaut, "d:getetag='\"4-3\"'")}},
      {"missing card", "PROPFIND", "/addressbooks/book/nobody.vcf", kDepth0, propfind("<d:getetag/>"), 404},
      {"unknown path", "PROPFIND", "/calendars/", kDepth0, propfind("<d:getetag/>"), 404},
      {"depth infinity",
       "PROPFIND",
       c,
       "Depth: infinity\r\n",
       propfind("<d:getetag/>"),
       403,
       {err("d:propfind-finite-depth")}},
      {"no depth is infinity",
       "PROPFIND",
       c,
       "",
       propfind("<d:getetag/>"),
       403,
       {err("d:propfind-finite-depth")}},
      {"depth 2", "PROPFIND", c, "Depth: 2\r\n", propfind("<d:getetag/>"), 400},
      {"malformed XML", "PROPFIND", c, kDepth0, "<d:propfind xmlns:d=\"DAV:\"><d:prop>", 400},
      {"wrong root element", "PROPFIND", c, kDepth0, multiget("<d:getetag/>", ""), 400},
      {"entity declarations", "PROPFIND", c, kDepth0,
       "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>"
       "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:displayname>&b;</d:displayname></d:prop></d:propfind>",
       400},
      {"external entity", "PROPFIND", c, kDepth0,
       "<?xml version=\"1.0\"?><!DOCTYPE d SYSTEM \"file:///etc/passwd\"><d:propfind xmlns:d=\"DAV:\"/>",
       400},
      {"elements nested past libxml2's bound", "PROPFIND", c, kDepth0,
       std::string("<d:propfind xmlns:d=\"DAV:\"><d:prop>") +
           [] {
             std::string deep;
             for (int i = 0; i < 300; ++i) deep += "<x>";
             for (int i = 0; i < 300; ++i) deep += "</x>";
             return deep;
           }() +
           "</d:prop></d:propfind>",
       400},
  };
}

std::vector<Row> readRows() {
  return {
      {"GET a card",
       "GET",
       kAlice,
       "",
       "",
       200,
       {},
       {{"etag", "\"1-3\""},
        {"content-type", "text/vcard; charset=utf-8"},
        {"last-modified", "Tue, 14 Nov 2023 22:13:20 GMT"}}},
      {"GET in vCard 4.0",
       "GET",
       kAlice,
       "Accept: text/vcard;version=4.0, text/vcard;q=0.5\r\n",
       "",
       200,
       {},
       {{"etag", "\"1-4\""}}},
      {"GET asking for 3.0 first",
       "GET",
       kAlice,
       "Accept: text/vcard; version=3.0, text/vcard; version=4.0\r\n",
       "",
       200,
       {},
       {{"etag", "\"1-3\""}}},
      {"GET with the current ETag in If-None-Match",
       "GET",
       kAlice,
       "If-None-Match: \"1-3\"\r\n",
       "",
       304,
       {},
       {{"etag", "\"1-3\""}}},
      {"GET with an old ETag in If-None-Match", "GET", kAlice, "If-None-Match: \"0-3\"\r\n", "", 200},
      {"HEAD", "HEAD", kAlice, "", "", 200, {}, {{"etag", "\"1-3\""}}},
      {"GET a missing card", "GET", "/addressbooks/book/nobody.vcf", "", "", 404},
      {"GET the collection", "GET", kCollection, "", "", 200},
      {"OPTIONS",
       "OPTIONS",
       kCollection,
       "",
       "",
       200,
       {},
       {{"dav", "1, 3, addressbook"},
        {"allow", "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, PROPPATCH, REPORT"}}},
  };
}

std::vector<Row> writeRows() {
  const std::string carol = kxtest::Card("carol", "Carol");
  const std::string newAlice = kxtest::Card("alice", "Alice Pleasance Liddell");
  const std::string appleGroup = kxtest::Card("team", "Team",
                                              "X-ADDRESSBOOKSERVER-KIND:group\r\n"
                                              "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:bob\r\n");
  const std::string kindGroup = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:crew\r\nFN:Crew\r\nKIND:group\r\nMEMBER:"
                                "urn:uuid:bob\r\nEND:VCARD\r\n";
  const std::string carolPath = "/addressbooks/book/carol.vcf";
  return {
      {"create with If-None-Match: *",
       "PUT",
       carolPath,
       kVcard + "If-None-Match: *\r\n",
       carol,
       201,
       {},
       {{"etag", "\"5-3\""}}},
      {"create with a name of the client's choosing", "PUT", "/addressbooks/book/0A1B-c%20d~_.x", kVcard,
       carol, 201},
      {"create over an existing card with If-None-Match: *", "PUT", kAlice, kVcard + "If-None-Match: *\r\n",
       newAlice, 412},
      {"update with the current 3.0 ETag",
       "PUT",
       kAlice,
       kVcard + "If-Match: \"1-3\"\r\n",
       newAlice,
       204,
       {},
       {{"etag", "\"5-3\""}}},
      {"update with the current 4.0 ETag", "PUT", kAlice, kVcard + "If-Match: \"1-4\"\r\n", newAlice, 204},
      {"update with one of several ETags", "PUT", kAlice, kVcard + "If-Match: \"7-3\", \"1-3\"\r\n", newAlice,
       204},
      {"update with an ETag it has not seen", "PUT", kAlice, kVcard + "If-Match: \"9-3\"\r\n", newAlice, 412},
      {"update with a weak ETag", "PUT", kAlice, kVcard + "If-Match: W/\"1-3\"\r\n", newAlice, 412},
      {"update with a foreign ETag", "PUT", kAlice, kVcard + "If-Match: \"abc\"\r\n", newAlice, 412},
      {"If-Match on a missing card", "PUT", carolPath, kVcard + "If-Match: \"1-3\"\r\n", carol, 412},
      {"If-Match: * on a missing card", "PUT", carolPath, kVcard + "If-Match: *\r\n", carol, 412},
      {"If-Match: * on an existing card", "PUT", kAlice, kVcard + "If-Match: *\r\n", newAlice, 204},
      {"If-None-Match with the current ETag", "PUT", kAlice, kVcard + "If-None-Match: \"1-3\"\r\n", newAlice,
       412},
      {"unconditional update", "PUT", kAlice, kVcard, newAlice, 204},
      {"vCard 4.0 body: the ETag of the 4.0 representation",
       "PUT",
       "/addressbooks/book/crew.vcf",
       kVcard,
       kindGroup,
       201,
       {},
       {{"etag", "\"5-4\""}}},
      {"Apple group card", "PUT", "/addressbooks/book/team.vcf", kVcard, appleGroup, 201},
      {"a UID another card holds",
       "PUT",
       carolPath,
       kVcard,
       kxtest::Card("bob", "Not Bob"),
       409,
       {err("c:no-uid-conflict/d:href='/addressbooks/book/bob.vcf'")}},
      {"no vCard at all", "PUT", carolPath, kVcard, "hello", 400, {err("c:valid-address-data")}},
      {"two vCards", "PUT", carolPath, kVcard, carol + carol, 400, {err("c:valid-address-data")}},
      {"a vCard without its end",
       "PUT",
       carolPath,
       kVcard,
       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\n",
       400,
       {err("c:valid-address-data")}},
      {"a card the book refuses",
       "PUT",
       carolPath,
       kVcard,
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Uid\r\nEND:VCARD\r\n",
       403,
       {err("c:valid-address-data"), "/d:error/d:responsedescription='the card has no UID'"}},
      {"not text/vcard",
       "PUT",
       carolPath,
       "Content-Type: text/calendar\r\n",
       carol,
       415,
       {err("c:supported-address-data")}},
      {"larger than max-resource-size",
       "PUT",
       carolPath,
       kVcard,
       kxtest::Card("big", "Big", "NOTE:" + std::string(5000, 'x') + "\r\n"),
       413,
       {err("c:max-resource-size")}},
      {"PUT on the collection", "PUT", kCollection, kVcard, carol, 405},
      {"PUT outside the collection", "PUT", "/addressbooks/other/carol.vcf", kVcard, carol, 409},
      {"DELETE with the current ETag", "DELETE", kAlice, "If-Match: \"1-3\"\r\n", "", 204},
      {"DELETE with an old ETag", "DELETE", kAlice, "If-Match: \"0-3\"\r\n", "", 412},
      {"DELETE unconditionally", "DELETE", kBob, "", "", 204},
      {"DELETE with If-None-Match: *", "DELETE", kAlice, "If-None-Match: *\r\n", "", 412},
      {"DELETE a missing card with If-None-Match: *", "DELETE", "/addressbooks/book/nobody.vcf",
       "If-None-Match: *\r\n", "", 404},
      {"DELETE a missing card", "DELETE", "/addressbooks/book/nobody.vcf", "", "", 404},
      {"DELETE the collection", "DELETE", kCollection, "", "", 403},
      {"PROPPATCH the display name",
       "PROPPATCH",
       kCollection,
       "",
       std::string("<d:propertyupdate") + kNamespaces +
           "><d:set><d:prop><d:displayname>Mine</d:displayname></d:prop></d:set></d:propertyupdate>",
       207,
       {resp(kCollection) + "/d:propstat[d:status='HTTP/1.1 403 Forbidden']/d:prop/d:displayname"}},
      {"MKCOL", "MKCOL", "/addressbooks/second/", "", "", 403},
      {"MOVE", "MOVE", kAlice, "Destination: /addressbooks/book/x.vcf\r\n", "", 403},
      {"LOCK", "LOCK", kAlice, "", "", 405},
      {"a method nobody knows", "BREW", kAlice, "", "", 501},
  };
}

std::vector<Row> reportRows() {
  const std::string ad = "<d:getetag/><c:address-data/>";
  const std::string textMatch = "<c:text-match";
  auto prop = [](const std::string &name, const std::string &inner, const std::string &attrs = "") {
    return "<c:prop-filter name=\"" + name + "\"" + attrs + ">" + inner + "</c:prop-filter>";
  };
  auto match = [](const std::string &text, const std::string &attrs = "") {
    return "<c:text-match" + attrs + ">" + text + "</c:text-match>";
  };
  auto filter = [](const std::string &inner, const std::string &attrs = "") {
    return "<c:filter" + attrs + ">" + inner + "</c:filter>";
  };
  auto only = [](std::vector<std::string> hrefs) {
    std::vector<std::string> xpaths = {responses(static_cast<int>(hrefs.size()))};
    for (const std::string &href : hrefs) xpaths.push_back(found(href, "d:getetag"));
    return xpaths;
  };
  const std::string c = kCollection;
  return {
      {"multiget: cards, a missing one and one outside the collection",
       "REPORT",
       c,
       kDepth1,
       multiget(ad,
                Href(kAlice) + Href(kUmlaut) + Href("/addressbooks/book/nobody.vcf") + Href("/principal/")),
       207,
       {responses(4), found(kAlice, "d:getetag='\"1-3\"'"),
        found(kAlice, "c:address-data[contains(., 'FN:Alice Liddell\r\n')]"),
        found(kAlice, "c:address-data[contains(., 'NOTE:likes rabbits\\, tea\\nand hats\r\n')]"),
        found(kUmlaut, "c:address-data[contains(., 'ORG:Br\xC3\xA4u AG')]"),
        resp("/addressbooks/book/nobody.vcf") + "/d:status='HTTP/1.1 404 Not Found'",
        resp("/principal/") + "/d:status='HTTP/1.1 404 Not Found'"}},
      {"multiget: hrefs as absolute URLs are answered as sent",
       "REPORT",
       c,
       kDepth1,
       multiget("<d:getetag/>", Href(std::string("http://localhost") + kBob)),
       207,
       {found(std::string("http://localhost") + kBob, "d:getetag='\"2-3\"'")}},
      {"multiget in vCard 4.0",
       "REPORT",
       c,
       kDepth1,
       multiget("<d:getetag/><c:address-data content-type=\"text/vcard\" version=\"4.0\"/>", Href(kAlice)),
       207,
       {found(kAlice, "d:getetag='\"1-4\"'"), found(kAlice, "c:address-data[contains(., 'VERSION:4.0')]")}},
      {"multiget of some properties of the cards",
       "REPORT",
       c,
       kDepth1,
       multiget(
           "<c:address-data><c:prop name=\"FN\"/><c:prop name=\"email\" novalue=\"yes\"/></c:address-data>",
           Href(kAlice)),
       207,
       {found(kAlice, "c:address-data='BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Alice Liddell\r\nEMAIL;TYPE=work:\r\n"
                      "END:VCARD\r\n'")}},
      {"multiget in vCard 2.1",
       "REPORT",
       c,
       kDepth1,
       multiget("<c:address-data content-type=\"text/vcard\" version=\"2.1\"/>", Href(kAlice)),
       403,
       {err("c:supported-address-data")}},
      {"query: contains, unicode-casemap by default", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("ALICE")))), 207, only({kAlice})},
      {"query: equals, i;ascii-casemap", "REPORT", c, kDepth1,
       query(
           filter(prop("FN", match("bob builder", " collation=\"i;ascii-casemap\" match-type=\"equals\"")))),
       207, only({kBob})},
      {"query: starts-with", "REPORT", c, kDepth1,
       query(filter(prop("EMAIL", match("BOB@", " match-type=\"starts-with\"")))), 207, only({kBob})},
      {"query: ends-with", "REPORT", c, kDepth1,
       query(filter(prop("EMAIL", match(".COM", " match-type=\"ends-with\"")))), 207, only({kAlice})},
      {"query: unicode-casemap folds non-ASCII letters", "REPORT", c, kDepth1,
       query(filter(prop("ORG", match("BR\xC3\x84U")))), 207, only({kUmlaut})},
      {"query: i;ascii-casemap leaves them", "REPORT", c, kDepth1,
       query(filter(prop("ORG", match("BR\xC3\x84U", " collation=\"i;ascii-casemap\"")))), 207, only({})},
      {"query: i;octet keeps case", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("alice", " collation=\"i;octet\"")))), 207, only({})},
      {"query: values are compared unescaped", "REPORT", c, kDepth1,
       query(filter(prop("NOTE", match("rabbits, tea\nand")))), 207, only({kAlice})},
      {"query: negate-condition", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("ali", " negate-condition=\"yes\"")))), 207,
       only({kBob, kGroup, kUmlaut})},
      {"query: is-not-defined", "REPORT", c, kDepth1, query(filter(prop("EMAIL", "<c:is-not-defined/>"))),
       207, only({kGroup, kUmlaut})},
      {"query: a property that is there", "REPORT", c, kDepth1, query(filter(prop("NICKNAME", ""))), 207,
       only({kBob})},
      {"query: param-filter with text-match", "REPORT", c, kDepth1,
       query(filter(prop("EMAIL", "<c:param-filter name=\"TYPE\">" + match("HOME", " match-type=\"equals\"") +
                                      "</c:param-filter>"))),
       207, only({kBob})},
      {"query: param-filter is-not-defined", "REPORT", c, kDepth1,
       query(filter(prop("TEL", "<c:param-filter name=\"PREF\"><c:is-not-defined/></c:param-filter>"))), 207,
       only({kAlice})},
      {"query: a group card by its kind", "REPORT", c, kDepth1,
       query(filter(prop("X-ADDRESSBOOKSERVER-KIND", match("group", " match-type=\"equals\"")))), 207,
       only({kGroup})},
      {"query: anyof prop-filters", "REPORT", c, kDepth1,
       query(filter(prop("NICKNAME", "") + prop("ORG", ""))), 207, only({kBob, kUmlaut})},
      {"query: allof prop-filters", "REPORT", c, kDepth1,
       query(filter(prop("NICKNAME", "") + prop("EMAIL", ""), " test=\"allof\"")), 207, only({kBob})},
      {"query: allof text-matches on one property", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("alice") + match("bob"), " test=\"allof\""))), 207, only({})},
      {"query: anyof text-matches on one property", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("alice") + match("bob")))), 207, only({kAlice, kBob})},
      {"query: empty filter matches every card", "REPORT", c, kDepth1, query(filter("")), 207,
       only({kAlice, kBob, kGroup, kUmlaut})},
      {"query: with address data",
       "REPORT",
       c,
       kDepth1,
       query(filter(prop("NICKNAME", "")), "", ad),
       207,
       {responses(1), found(kBob, "c:address-data[contains(., 'NICKNAME:Bobby')]")}},
      {"query: a limit it goes over",
       "REPORT",
       c,
       kDepth1,
       query(filter(""), "<c:limit><c:nresults>2</c:nresults></c:limit>"),
       207,
       {responses(3), "count(//d:propstat)=2",
        resp(c) +
            "[d:status='HTTP/1.1 507 Insufficient Storage']/d:error/d:number-of-matches-within-limits"}},
      {"query: a limit it stays within", "REPORT", c, kDepth1,
       query(filter(prop("NICKNAME", "")), "<c:limit><c:nresults>1</c:nresults></c:limit>"), 207,
       only({kBob})},
      {"query: an unknown collation",
       "REPORT",
       c,
       kDepth1,
       query(filter(prop("FN", match("a", " collation=\"i;klingon\"")))),
       403,
       {err("c:supported-collation")}},
      {"query: an unknown match-type", "REPORT", c, kDepth1,
       query(filter(prop("FN", match("a", " match-type=\"sounds-like\"")))), 400},
      {"query: depth 0 looks at no card", "REPORT", c, kDepth0, query(filter("")), 207, {responses(0)}},
      {"query: no filter", "REPORT", c, kDepth1,
       std::string("<c:addressbook-query") + kNamespaces +
           "><d:prop><d:getetag/></d:prop></c:addressbook-query>",
       400},
      {"sync: initial",
       "REPORT",
       c,
       "",
       syncReport(""),
       207,
       {responses(4), found(kAlice, "d:getetag='\"1-3\"'"),
        "/d:multistatus/d:sync-token='http://kindex.invalid/sync/m4'"}},
      {"sync: nothing changed",
       "REPORT",
       c,
       "",
       syncReport("http://kindex.invalid/sync/m4"),
       207,
       {responses(0), "/d:multistatus/d:sync-token='http://kindex.invalid/sync/m4'"}},
      {"sync: changes since a token",
       "REPORT",
       c,
       "",
       syncReport("http://kindex.invalid/sync/m2"),
       207,
       {responses(2), found(kGroup, "d:getetag='\"3-3\"'"), found(kUmlaut, "d:getetag")}},
      {"sync: with address data",
       "REPORT",
       c,
       "",
       syncReport("http://kindex.invalid/sync/m3", ad),
       207,
       {responses(1), found(kUmlaut, "c:address-data[contains(., 'UID:umlaut')]")}},
      {"sync: a token from the future",
       "REPORT",
       c,
       "",
       syncReport("http://kindex.invalid/sync/m99"),
       403,
       {err("d:valid-sync-token")}},
      {"sync: a token that is no token of ours",
       "REPORT",
       c,
       "",
       syncReport("http://example.com/sync/1"),
       403,
       {err("d:valid-sync-token")}},
      {"sync: a limit it cannot keep",
       "REPORT",
       c,
       "",
       syncReport("", "<d:getetag/>", "<d:limit><d:nresults>2</d:nresults></d:limit>"),
       507,
       {err("d:number-of-matches-within-limits")}},
      {"sync: on a card", "REPORT", kAlice, "", syncReport(""), 403, {err("d:supported-report")}},
      {"a report nobody knows",
       "REPORT",
       c,
       "",
       std::string("<d:expand-property") + kNamespaces + "/>",
       403,
       {err("d:supported-report")}},
  };
}

namespace {

class RequestTable : public DavTest {
 protected:
  void runRows(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
      SCOPED_TRACE(row.name);
      collection_ = kxtest::MemoryCollection();
      addKnownCards();
      checkAnswer(row, rw(row.method, row.path, row.headers, row.body));
    }
  }
};

TEST_F(RequestTable, Propfind) {
  runRows(propfindRows());
}
TEST_F(RequestTable, GetHeadOptions) {
  runRows(readRows());
}
TEST_F(RequestTable, Writes) {
  runRows(writeRows());
}
TEST_F(RequestTable, Reports) {
  runRows(reportRows());
}

// What a client reads back is what it wrote: text, groups of either kind, and ETags that
// change with every write and name both representations.
TEST_F(RequestTable, WrittenCardsReadBackAsSent) {
  const std::string group = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:crew\r\nFN:Crew\r\nKIND:group\r\nMEMBER:urn:"
                            "uuid:bob\r\nEND:VCARD\r\n";
  HttpResponse put = rw("PUT", "/addressbooks/book/crew.vcf", kVcard, group);
  ASSERT_EQ(201, put.status);
  HttpResponse get = rw("GET", "/addressbooks/book/crew.vcf", "Accept: text/vcard; version=4.0\r\n");
  EXPECT_EQ(group, get.body);
  EXPECT_EQ(put.header("etag"), get.header("etag"));
  EXPECT_EQ(group, collection_.text("crew.vcf"));

  HttpResponse again =
      rw("PUT", "/addressbooks/book/crew.vcf", kVcard + "If-Match: " + put.header("etag") + "\r\n", group);
  EXPECT_EQ(204, again.status);
  EXPECT_NE(put.header("etag"), again.header("etag"));
  // The first ETag now names a version that is gone.
  EXPECT_EQ(412,
            rw("DELETE", "/addressbooks/book/crew.vcf", "If-Match: " + put.header("etag") + "\r\n").status);
  EXPECT_EQ(1u, collection_.size());
}

// Every request first catches up with what others saved, so nothing is answered from a state
// older than the request.
TEST_F(RequestTable, EveryRequestSeesWhatOthersSaved) {
  addKnownCards();
  collection_.saveElsewhere("dora.vcf", kxtest::Card("dora", "Dora"));
  HttpResponse list = rw("PROPFIND", kCollection, kDepth1, propfind("<d:getetag/>"));
  EXPECT_EQ("", checkXml(list.body, {responses(6), found("/addressbooks/book/dora.vcf", "d:getetag")}));

  collection_.removeElsewhere(kBobName);
  EXPECT_EQ(404, rw("GET", kBob).status);

  const int before = collection_.catchUps();
  rw("OPTIONS", kCollection);
  rw("REPORT", kCollection, "", syncReport(""));
  EXPECT_EQ(before + 2, collection_.catchUps());
}

// Changes reported by sync-collection, step by step, as a client sees them: a new card, a
// changed one and a removed one, then nothing; and a token the collection no longer answers for.
TEST_F(RequestTable, SyncCollectionFollowsChanges) {
  addKnownCards();
  HttpResponse first = rw("REPORT", kCollection, "", syncReport(""));
  const std::string token = xPathString(first.body, "/d:multistatus/d:sync-token");
  ASSERT_EQ("http://kindex.invalid/sync/m4", token);

  ASSERT_EQ(201, rw("PUT", "/addressbooks/book/dora.vcf", kVcard, kxtest::Card("dora", "Dora")).status);
  ASSERT_EQ(204, rw("PUT", kAlice, kVcard, kxtest::Card("alice", "Alice L.")).status);
  ASSERT_EQ(204, rw("DELETE", kBob).status);
  collection_.saveElsewhere("eve.vcf", kxtest::Card("eve", "Eve"));

  HttpResponse second = rw("REPORT", kCollection, "", syncReport(token));
  EXPECT_EQ(207, second.status);
  EXPECT_EQ("",
            checkXml(second.body, {responses(4), found("/addressbooks/book/dora.vcf", "d:getetag='\"5-3\"'"),
                                   found(kAlice, "d:getetag='\"6-3\"'"),
                                   resp(kBob) + "[d:status='HTTP/1.1 404 Not Found' and not(d:propstat)]",
                                   found("/addressbooks/book/eve.vcf", "d:getetag='\"8-3\"'")}));
  const std::string next = xPathString(second.body, "/d:multistatus/d:sync-token");
  EXPECT_EQ("http://kindex.invalid/sync/m8", next);
  EXPECT_EQ("", checkXml(rw("REPORT", kCollection, "", syncReport(next)).body, {responses(0)}));

  collection_.forgetHistory();
  HttpResponse expired = rw("REPORT", kCollection, "", syncReport(token));
  EXPECT_EQ(403, expired.status);
  EXPECT_EQ("", checkXml(expired.body, {err("d:valid-sync-token")}));
}

// A store that fails answers with the status a client retries on or reports, and the card
// stays as it was.
TEST_F(RequestTable, StoreFailures) {
  addKnownCards();
  const struct {
    carddav::PutResult::Outcome outcome;
    int status;
  } rows[] = {
      {carddav::PutResult::kBusy, 503}, {carddav::PutResult::kFull, 507}, {carddav::PutResult::kFailed, 500}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.status);
    collection_.failNextWrite(row.outcome);
    HttpResponse answer = rw("PUT", kAlice, kVcard, kxtest::Card("alice", "Changed"));
    EXPECT_EQ(row.status, answer.status);
    if (row.status == 503) {
      EXPECT_EQ("2", answer.header("retry-after"));
    }
    EXPECT_EQ(aliceCard(), collection_.text(kAliceName));
  }
  collection_.failNextWrite(carddav::PutResult::kBusy);
  EXPECT_EQ(503, rw("DELETE", kAlice).status);
  ASSERT_FALSE(log_.empty());
  EXPECT_NE(std::string::npos, log_.back().find("saving alice.vcf failed - made to fail")) << log_.back();
}

}  // namespace
}  // namespace davtest
