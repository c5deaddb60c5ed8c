/* Writing XML answers by hand into one string: the multistatus of a large book is the hot
 * path, so there is no document tree, and text is escaped in one scan that copies runs of
 * plain bytes at once. Answers declare the prefixes d (DAV:), c (CardDAV), cs
 * (CalendarServer) on their root element. */
#ifndef BOOKD_CARDDAV_XMLOUT_H
#define BOOKD_CARDDAV_XMLOUT_H

#include <string>

namespace carddav {

extern const char kDavNs[];
extern const char kCardDavNs[];
extern const char kCalendarServerNs[];

// The XML declaration and the root element's start tag with the three prefixes declared,
// e.g. appendXmlStart(&out, "d:multistatus").
void appendXmlStart(std::string *out, const char *root);

// Appends text escaped for element content or a double-quoted attribute. CR is written as a
// character reference so that a card's CRLF line ends survive parsing; characters XML 1.0
// cannot carry at all (other control characters, bytes that are no UTF-8) become U+FFFD.
void appendEscaped(std::string *out, const std::string &text);
void appendEscaped(std::string *out, const char *text, size_t length);

// Appends a path with every byte outside RFC 3986's unreserved characters and "/" percent-
// encoded; the result needs no XML escaping.
void appendHref(std::string *out, const std::string &path);

// A DAV:error body holding one condition element, e.g. "<c:no-uid-conflict/>" (raw XML).
std::string errorBody(const std::string &condition);

}  // namespace carddav

#endif
