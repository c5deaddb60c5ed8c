// Request bodies and XPath expressions the CardDAV tables are written in.
#pragma once

#include <string>

namespace davtest {

const char kNamespaces[] =
    " xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\" xmlns:cs=\"http://calendarserver.org/ns/\""
    " xmlns:x=\"urn:example:x\"";

inline std::string propfind(const std::string &props) {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><d:propfind") + kNamespaces + "><d:prop>" +
         props + "</d:prop></d:propfind>";
}

inline std::string multiget(const std::string &props, const std::string &hrefs) {
  return std::string("<c:addressbook-multiget") + kNamespaces + "><d:prop>" + props + "</d:prop>" + hrefs +
         "</c:addressbook-multiget>";
}

inline std::string Href(const std::string &path) {
  return "<d:href>" + path + "</d:href>";
}

inline std::string query(const std::string &filter, const std::string &extra = "",
                         const std::string &props = "<d:getetag/>") {
  return std::string("<c:addressbook-query") + kNamespaces + "><d:prop>" + props + "</d:prop>" + filter +
         extra + "</c:addressbook-query>";
}

inline std::string syncReport(const std::string &token, const std::string &props = "<d:getetag/>",
                              const std::string &extra = "") {
  return std::string("<d:sync-collection") + kNamespaces + "><d:sync-token>" + token +
         "</d:sync-token><d:sync-level>1</d:sync-level><d:prop>" + props + "</d:prop>" + extra +
         "</d:sync-collection>";
}

// XPath: the response for an href; a property in its 200 or 404 propstat; the number of
// responses.
inline std::string resp(const std::string &href) {
  return "//d:response[d:href='" + href + "']";
}
inline std::string found(const std::string &href, const std::string &prop) {
  return resp(href) + "/d:propstat[d:status='HTTP/1.1 200 OK']/d:prop/" + prop;
}
inline std::string missing(const std::string &href, const std::string &prop) {
  return resp(href) + "/d:propstat[d:status='HTTP/1.1 404 Not Found']/d:prop/" + prop;
}
inline std::string responses(int n) {
  return "count(//d:response)=" + std::to_string(n);
}

const char kCollection[] = "/addressbooks/book/";
const char kAlice[] = "/addressbooks/book/alice.vcf";
const char kBob[] = "/addressbooks/book/bob.vcf";
const char kGroup[] = "/addressbooks/book/friends.vcf";
const char kUmlaut[] = "/addressbooks/book/m%C3%BCnchen%20wei%C3%9F.vcf";

}  // namespace davtest
