#include "CardName.h"

#include <cstdint>
#include <cstdio>

#include "CardCollection.h"

namespace carddav {

namespace {

const char kSuffix[] = ".vcf";
const size_t kSuffixLength = 4;
const size_t kHashedLength = 1 + 16 + kSuffixLength;  // "-" hex ".vcf"
const size_t kHashedStart = 200;                      // at most, of nameOfUid

bool encoded(unsigned char c) {
  return c == '%' || c == '/' || c < 0x20 || c == 0x7f;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool endsWithSuffix(const std::string &name) {
  return name.size() > kSuffixLength &&
         name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) == 0;
}

}  // namespace

void nameOfUid(std::string_view uid, std::string *name) {
  static const char hex[] = "0123456789ABCDEF";
  name->clear();
  for (unsigned char c : uid) {
    if (encoded(c)) {
      *name += '%';
      *name += hex[c >> 4];
      *name += hex[c & 15];
    } else {
      *name += static_cast<char>(c);
    }
  }
  name->append(kSuffix, kSuffixLength);
}

std::string nameOfUid(std::string_view uid) {
  std::string name;
  name.reserve(uid.size() + kSuffixLength);
  nameOfUid(uid, &name);
  return name;
}

// Only the exact form nameOfUid writes (upper-case escapes, and only of the characters it
// escapes) counts, so that one uid has one name.
bool uidOfName(const std::string &name, std::string *uid) {
  if (!endsWithSuffix(name)) return false;
  std::string &out = *uid;
  out.clear();
  const size_t end = name.size() - kSuffixLength;
  for (size_t i = 0; i < end; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c != '%') {
      if (encoded(c)) return false;
      out += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= end) return false;
    int high = hexValue(name[i + 1]), low = hexValue(name[i + 2]);
    if (high < 0 || low < 0 || !encoded(static_cast<unsigned char>(high * 16 + low))) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return !out.empty();
}

std::string hashedName(std::string_view uid) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : uid) hash = (hash ^ c) * 1099511628211ull;
  std::string start = nameOfUid(uid);
  start.resize(start.size() - kSuffixLength);
  static_assert(kHashedStart + kHashedLength <= kMaxNameLength, "a hashed name is a name");
  size_t keep = kHashedStart;
  if (start.size() > keep) {
    // Cut before a UTF-8 continuation byte or an escape, so the name stays valid text.
    while (keep > 0 && ((static_cast<unsigned char>(start[keep]) & 0xC0) == 0x80 ||
                        (keep >= 1 && start[keep - 1] == '%') || (keep >= 2 && start[keep - 2] == '%')))
      keep--;
    start.resize(keep);
  }
  char tail[kHashedLength + 1];
  std::snprintf(tail, sizeof tail, "-%016llx%s", static_cast<unsigned long long>(hash), kSuffix);
  return start + tail;
}

bool looksHashed(const std::string &name) {
  if (!endsWithSuffix(name) || name.size() < kHashedLength) return false;
  size_t at = name.size() - kHashedLength;
  if (name[at] != '-') return false;
  for (size_t i = at + 1; i < at + 17; i++) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace carddav
