#include "XmlOut.h"

#include <cstdint>

namespace carddav {

const char kDavNs[] = "DAV:";
const char kCardDavNs[] = "urn:ietf:params:xml:ns:carddav";
const char kCalendarServerNs[] = "http://calendarserver.org/ns/";

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// 0: copy as it is; 1: needs escaping or checking (markup characters, control characters,
// and every non-ASCII byte, whose UTF-8 form is checked).
struct ByteClasses {
  uint8_t special[256];
  ByteClasses() {
    for (int c = 0; c < 256; ++c)
      special[c] = (c < 0x20 || c >= 0x80 || c == '<' || c == '>' || c == '&' || c == '"');
    special[static_cast<uint8_t>('\t')] = 0;
    special[static_cast<uint8_t>('\n')] = 0;
  }
};
const ByteClasses kClasses;

// Length of the well-formed UTF-8 sequence (of a character XML allows) at p, 0 if none.
size_t utf8Length(const unsigned char *p, const unsigned char *end) {
  unsigned char c = p[0];
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
  return n;
}

}  // namespace

void appendXmlStart(std::string *out, const char *root) {
  out->append("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<");
  out->append(root);
  out->append(
      " xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\" "
      "xmlns:cs=\"http://calendarserver.org/ns/\">");
}

void appendEscaped(std::string *out, const char *text, size_t length) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + length;
  while (p < end) {
    const unsigned char *run = p;
    while (p < end && !kClasses.special[*p]) ++p;
    out->append(reinterpret_cast<const char *>(run), p - run);
    if (p == end) break;
    const unsigned char c = *p;
    if (c >= 0x80) {
      size_t n = utf8Length(p, end);
      if (n == 0) {
        out->append(kReplacement);
        ++p;
      } else {
        out->append(reinterpret_cast<const char *>(p), n);
        p += n;
      }
      continue;
    }
    switch (c) {
      case '<':
        out->append("&lt;");
        break;
      case '>':
        out->append("&gt;");
        break;
      case '&':
        out->append("&amp;");
        break;
      case '"':
        out->append("&quot;");
        break;
      case '\r':
        out->append("&#13;");
        break;
      default:
        out->append(kReplacement);
        break;
    }
    ++p;
  }
}

void appendEscaped(std::string *out, const std::string &text) {
  appendEscaped(out, text.data(), text.size());
}

void appendHref(std::string *out, const std::string &path) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    }
  }
}

std::string errorBody(const std::string &condition) {
  std::string out;
  appendXmlStart(&out, "d:error");
  out.append(condition);
  out.append("</d:error>\n");
  return out;
}

}  // namespace carddav
