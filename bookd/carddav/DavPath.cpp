#include "DavPath.h"

#include <vector>

#include "CardCollection.h"

namespace carddav {

const char kPrincipalPath[] = "/principal/";
const char kHomePath[] = "/addressbooks/";
const char kCollectionPath[] = "/addressbooks/book/";

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ValidUtf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
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

// Decodes one segment; false for a bad escape or a byte no segment may hold.
bool DecodeSegment(const std::string &raw, std::string *decoded) {
  decoded->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (i + 2 >= raw.size()) return false;
      int hi = HexValue(raw[i + 1]), lo = HexValue(raw[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/') return false;
    decoded->push_back(c);
  }
  return ValidUtf8(*decoded);
}

}  // namespace

bool ValidCardName(const std::string &name) {
  if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/') return false;
  return ValidUtf8(name);
}

std::string CardPath(const std::string &name) {
  return kCollectionPath + name;
}

DavTarget ParseTarget(const std::string &raw) {
  DavTarget target;
  if (raw.size() > kMaxPathLength) {
    target.kind = DavTarget::kTooLong;
    return target;
  }
  std::string path = raw;
  for (const char *scheme : {"http://", "https://"}) {
    const std::string prefix = scheme;
    if (path.compare(0, prefix.size(), prefix) == 0) {
      size_t slash = path.find('/', prefix.size());
      path = slash == std::string::npos ? "/" : path.substr(slash);
      break;
    }
  }
  size_t query = path.find_first_of("?#");
  if (query != std::string::npos) path.resize(query);
  if (path.empty() || path[0] != '/') return target;

  std::vector<std::string> segments;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      std::string segment;
      if (!DecodeSegment(path.substr(start, end - start), &segment)) return target;
      if (segment == "." || segment == "..") return target;
      segments.push_back(segment);
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
        if (!ValidCardName(segments[2])) {
          target.kind = DavTarget::kBad;
        } else {
          target.kind = DavTarget::kCard;
          target.name = segments[2];
        }
      }
    }
  }
  return target;
}

}  // namespace carddav
