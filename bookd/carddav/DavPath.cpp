#include "DavPath.h"

#include <string_view>
#include <vector>

#include "CardCollection.h"

namespace carddav {

const char kPrincipalPath[] = "/principal/";
const char kHomePath[] = "/addressbooks/";
const char kCollectionPath[] = "/addressbooks/book/";

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool validUtf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n = c < 0x80                   ? 1
               : (c >= 0xC2 && c <= 0xDF) ? 2
               : (c >= 0xE0 && c <= 0xEF) ? 3
               : (c >= 0xF0 && c <= 0xF4) ? 4
                                          : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = s[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

// A byte no decoded segment may hold.
bool forbidden(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F || c == '/';
}

// Decodes one segment; false for a bad escape or a byte no segment may hold. Runs without
// escapes are copied whole: a multiget decodes an href per card.
bool decodeSegment(std::string_view raw, std::string *decoded) {
  decoded->clear();
  size_t i = 0;
  while (i < raw.size()) {
    const size_t run = i;
    for (; i < raw.size() && raw[i] != '%'; ++i) {
      if (forbidden(raw[i])) return false;
    }
    decoded->append(raw.data() + run, i - run);
    if (i == raw.size()) break;
    if (i + 2 >= raw.size()) return false;
    int hi = hexValue(raw[i + 1]), lo = hexValue(raw[i + 2]);
    if (hi < 0 || lo < 0) return false;
    const char c = static_cast<char>(hi * 16 + lo);
    if (forbidden(c)) return false;
    decoded->push_back(c);
    i += 3;
  }
  return validUtf8(*decoded);
}

}  // namespace

bool validCardName(const std::string &name) {
  if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/') return false;
  return validUtf8(name);
}

std::string cardPath(const std::string &name) {
  return kCollectionPath + name;
}

DavTarget parseTarget(const std::string &raw) {
  DavTarget target;
  if (raw.size() > kMaxPathLength) {
    target.kind = DavTarget::kTooLong;
    return target;
  }
  // Views and moved strings: a multiget parses an href per card.
  std::string_view path(raw);
  for (std::string_view prefix : {std::string_view("http://"), std::string_view("https://")}) {
    if (path.compare(0, prefix.size(), prefix) == 0) {
      size_t slash = path.find('/', prefix.size());
      path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
      break;
    }
  }
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '?' || path[i] == '#') {
      path = path.substr(0, i);
      break;
    }
  }
  if (path.empty() || path[0] != '/') return target;

  std::vector<std::string> segments;
  segments.reserve(4);
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      std::string segment;
      if (!decodeSegment(path.substr(start, end - start), &segment)) return target;
      if (segment == "." || segment == "..") return target;
      segments.push_back(std::move(segment));
    }
    start = end + 1;
  }

  target.kind = DavTarget::kNotFound;
  const size_t n = segments.size();
  if (n == 0) {
    target.kind = DavTarget::kRoot;
  } else if (n == 2 && segments[0] == ".well-known" && segments[1] == "carddav") {
    target.kind = DavTarget::kWellKnown;
  } else if (n == 1 && segments[0] == "principal") {
    target.kind = DavTarget::kPrincipal;
  } else if (segments[0] == "addressbooks") {
    if (n == 1) {
      target.kind = DavTarget::kHome;
    } else if (segments[1] == "book") {
      if (n == 2) {
        target.kind = DavTarget::kCollection;
      } else if (n == 3) {
        if (!validCardName(segments[2])) {
          target.kind = DavTarget::kBad;
        } else {
          target.kind = DavTarget::kCard;
          target.name = std::move(segments[2]);
        }
      }
    }
  }
  return target;
}

}  // namespace carddav
