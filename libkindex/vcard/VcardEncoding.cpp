#include "vcard/VcardEncoding.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>

#include "vcard/VcardText.h"

namespace vcard {

namespace {

// iconv also takes suffixes such as "//IGNORE" that change how it converts: only plain set
// names reach it.
bool isPlainCharsetName(const std::string &name) {
  if (name.empty() || name.size() > 40) return false;
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':')) return false;
  return true;
}

bool iconvToUtf8(const std::string &bytes, const char *from, std::string &utf8) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  utf8.clear();
  char *in = const_cast<char *>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[4096];
  bool ok = true;
  while (ok) {
    char *out = buffer;
    size_t outLeft = sizeof buffer;
    size_t done = inLeft > 0 ? iconv(cd, &in, &inLeft, &out, &outLeft)
                             : iconv(cd, nullptr, nullptr, &out, &outLeft);  // flush the state
    utf8.append(buffer, out - buffer);
    if (done != static_cast<size_t>(-1)) {
      if (inLeft == 0 && out == buffer) break;
    } else if (errno != E2BIG) {
      ok = false;  // EILSEQ or EINVAL: not text in that set, or cut off inside a character
    }
  }
  iconv_close(cd);
  return ok;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void decodeFile(std::string_view bytes, FileText &file) {
  auto startsWith = [&](const char *mark, size_t length) {
    return bytes.substr(0, length) == std::string_view(mark, length);
  };
  if (startsWith("\xEF\xBB\xBF", 3)) {
    file.text = bytes.substr(3);
  } else if (startsWith("\xFF\xFE", 2) || startsWith("\xFE\xFF", 2)) {
    const char *set = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
    if (!iconvToUtf8(std::string(bytes.substr(2)), set, file.converted)) {
      file.kind = FileText::kBroken;
      file.error = std::string("the file starts with a ") + set + " byte-order mark but is not " + set;
      file.converted.clear();
    }
    file.text = file.converted;
    return;
  } else {
    file.text = bytes;
  }
  if (!isValidUtf8(file.text)) file.kind = FileText::kLegacy;
}

bool convertToUtf8(const std::string &bytes, const std::string &charset, std::string &utf8,
                   std::string &error) {
  if (!isPlainCharsetName(charset)) {
    error = "unknown character set " + printable(charset);
    return false;
  }
  std::string upper = upperAscii(charset);
  if (upper == "UTF-8" || upper == "UTF8") {
    if (isValidUtf8(bytes)) {
      utf8 = bytes;
      return true;
    }
  } else if (upper == "WINDOWS-1252" || upper == "CP1252") {
    utf8 = windows1252ToUtf8(bytes);
    return true;
  } else if (iconvToUtf8(bytes, charset.c_str(), utf8)) {
    return true;
  } else {
    iconv_t probe = iconv_open("UTF-8", charset.c_str());
    if (probe == reinterpret_cast<iconv_t>(-1)) {
      error = "unknown character set " + printable(charset);
      return false;
    }
    iconv_close(probe);
  }
  error = "the value is not text in the character set " + printable(charset);
  return false;
}

std::string windows1252ToUtf8(const std::string &bytes) {
  std::string utf8;
  if (iconvToUtf8(bytes, "WINDOWS-1252", utf8)) return utf8;
  // Only 0x81, 0x8D, 0x8F, 0x90 and 0x9D fail there; converting value by value would need a
  // table, so the whole value is read as ISO-8859-1 then, which every byte is.
  iconvToUtf8(bytes, "ISO-8859-1", utf8);
  return utf8;
}

std::string decodeQuotedPrintable(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
      continue;
    }
    if (i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else if (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r')) {
      i += 1;
    } else if (i + 1 == text.size()) {
      // a soft break at the very end of the value
    } else {
      out += '=';
    }
  }
  return out;
}

bool isBase64Char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=' || c == ' ' ||
         c == '\t' || c == '\r' || c == '\n';
}

bool decodeBase64(const std::string &text, std::string &bytes) {
  bytes.clear();
  unsigned int buffer = 0;
  int bits = 0, padding = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else if (c == '=') {
      ++padding;
      continue;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      continue;
    } else {
      return false;
    }
    if (padding > 0) return false;  // data after the padding
    buffer = (buffer << 6) | static_cast<unsigned int>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return bits < 6 && padding <= 2;
}

}  // namespace vcard
