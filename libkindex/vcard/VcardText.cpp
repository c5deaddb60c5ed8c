#include "vcard/VcardText.h"

#include <cstring>

namespace vcard {

std::string escapeText(const std::string &text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ',':
        out += "\\,";
        break;
      case ';':
        out += "\\;";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\n";
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescapeText(const std::string &value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c != '\\' || i + 1 == value.size()) {
      out += c;
      continue;
    }
    char next = value[++i];
    out += (next == 'n' || next == 'N') ? '\n' : next;
  }
  return out;
}

std::vector<std::string> splitEscaped(const std::string &value, char separator) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      pieces.back() += c;
      pieces.back() += value[++i];
    } else if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

static bool isContinuationByte(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

std::string foldLine(const std::string &line) {
  const size_t limit = 75;
  std::string out;
  size_t pos = 0;
  bool first = true;
  while (true) {
    size_t room = first ? limit : limit - 1;  // a continuation line spends one octet on its blank
    size_t end = pos + room;
    if (end >= line.size()) {
      if (!first) out += ' ';
      out.append(line, pos, std::string::npos);
      out += "\r\n";
      return out;
    }
    // Back off to the start of a UTF-8 sequence; a sequence is at most 4 octets, so there is
    // always room for at least one whole character.
    while (end > pos + 1 && isContinuationByte(static_cast<unsigned char>(line[end]))) --end;
    if (!first) out += ' ';
    out.append(line, pos, end - pos);
    out += "\r\n";
    pos = end;
    first = false;
  }
}

void PhysicalLines::advance() {
  if (pos_ >= text_.size()) {
    atEnd_ = true;
    return;
  }
  // The next line feed by memchr, then a CR before it: find_first_of would look up each byte
  // of the file in the set of two. The feed found is kept until passed, so that a file of CRs
  // alone is not searched to its end for each of its lines.
  const char *start = text_.data() + pos_;
  if (feed_ < pos_ || pos_ == 0) {
    const void *found = std::memchr(start, '\n', text_.size() - pos_);
    feed_ = found != nullptr ? static_cast<size_t>(static_cast<const char *>(found) - text_.data())
                             : text_.size();
  }
  const void *cr = std::memchr(start, '\r', feed_ - pos_);
  size_t end = cr != nullptr ? static_cast<size_t>(static_cast<const char *>(cr) - text_.data()) : feed_;
  current_ = {text_.substr(pos_, end - pos_), ++number_};
  pos_ = end;
  // iPhones end lines with CR CR LF: one line end, not an empty line between two.
  if (text_.compare(pos_, 3, "\r\r\n") == 0) {
    pos_ += 3;
  } else if (text_.compare(pos_, 2, "\r\n") == 0) {
    pos_ += 2;
  } else if (pos_ < text_.size()) {
    ++pos_;
  }
}

std::vector<PhysicalLine> splitLines(const std::string &text) {
  std::vector<PhysicalLine> lines;
  for (PhysicalLines cursor(text); !cursor.atEnd(); cursor.advance()) lines.push_back(cursor.current());
  return lines;
}

bool isValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra;
    unsigned long cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
      if (!isContinuationByte(cc)) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const unsigned long minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string encodeParamValue(const std::string &value) {
  std::string out;
  bool quote = false;
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if (c == '\r' || c == '\n') {
      out += "^n";
      if (c == '\r' && next == '\n') ++i;
    } else if (c == '"') {
      out += "^'";
    } else if (c == '^') {
      out += (next == 'n' || next == '^' || next == '\'') ? "^^" : "^";
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      continue;  // a quoted string cannot hold it, and RFC 6868 has no escape for it
    } else {
      quote = quote || c == ':' || c == ';' || c == ',';
      out += static_cast<char>(c);
    }
  }
  return quote ? "\"" + out + "\"" : out;
}

std::string decodeCaretEscapes(const std::string &value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if (value[i] == '^' && (next == 'n' || next == '^' || next == '\'')) {
      out += next == 'n' ? '\n' : next == '^' ? '^' : '"';
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string printable(const std::string &fileText) {
  static const char hex[] = "0123456789abcdef";
  const size_t limit = 60;
  std::string out;
  size_t i = 0;
  for (; i < fileText.size() && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(fileText[i]);
    size_t length = c < 0x80             ? 1
                    : (c & 0xE0) == 0xC0 ? 2
                    : (c & 0xF0) == 0xE0 ? 3
                    : (c & 0xF8) == 0xF0 ? 4
                                         : 0;
    bool control = c < 0x20 || c == 0x7F;
    // U+0080 to U+009F: terminals take some of them for escape sequences.
    bool c1 = c == 0xC2 && i + 1 < fileText.size() && static_cast<unsigned char>(fileText[i + 1]) < 0xA0;
    bool whole = length > 0 && !c1 && isValidUtf8(fileText.substr(i, length));
    if (control || !whole) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
      continue;
    }
    out.append(fileText, i, length);
    i += length - 1;
  }
  if (i < fileText.size()) out += "...";
  return out;
}

std::string upperAscii(std::string text) {
  for (char &c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace vcard
