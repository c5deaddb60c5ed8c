/* Request targets: the raw path a client sent, checked and mapped onto the service's few
 * resources. Paths are decoded here and nowhere else (libmicrohttpd is told to leave them
 * alone), so that an encoded slash or NUL can't pass as something else. */
#ifndef BOOKD_CARDDAV_DAVPATH_H
#define BOOKD_CARDDAV_DAVPATH_H

#include <string>

namespace carddav {

// Longest request path accepted (as sent, before decoding); longer ones get 414.
const size_t kMaxPathLength = 4096;

extern const char kPrincipalPath[];   // "/principal/"
extern const char kHomePath[];        // "/addressbooks/"
extern const char kCollectionPath[];  // "/addressbooks/book/"

struct DavTarget {
  enum Kind {
    kBad,  // malformed: 400 (or 414 when too long)
    kTooLong,
    kNotFound,   // well formed but nothing there
    kWellKnown,  // /.well-known/carddav
    kRoot,
    kPrincipal,
    kHome,
    kCollection,
    kCard,  // name is the decoded resource name
  };
  Kind kind = kBad;
  std::string name;
};

// raw: the request target without its query, as sent; absolute form ("http://host/path")
// is accepted. Rejected as kBad: no leading '/', a bad %-escape, "." or ".." segments
// (plain or encoded), an encoded '/', NUL or other control characters, bytes that are no
// UTF-8. Empty segments ("//") are ignored; a trailing '/' is optional.
DavTarget parseTarget(const std::string &raw);

// True for a name a card may have (see CardCollection.h).
bool validCardName(const std::string &name);

// The path of a card, unencoded: kCollectionPath + name.
std::string cardPath(const std::string &name);

// The resource an href in a request body names, as parseTarget does; hrefs may be
// absolute URLs.
inline DavTarget parseHref(const std::string &href) {
  return parseTarget(href);
}

}  // namespace carddav

#endif
