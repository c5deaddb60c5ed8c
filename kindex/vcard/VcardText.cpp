#include "VcardText.h"

namespace vcard {

std::string escapeText(const std::string &text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ',': out += "\\,"; break;
      case ';': out += "\\;"; break;
      case '\n': out += "\\n"; break;
      case '\r':
        out += "\\n";
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        break;
      default: out += c;
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

static bool isContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

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

std::vector<LogicalLine> unfold(const std::string &text) {
  std::vector<LogicalLine> lines;
  size_t pos = 0;
  int number = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string physical = text.substr(pos, end - pos);
    if (!physical.empty() && physical.back() == '\r') physical.pop_back();
    ++number;
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && !lines.empty()) {
      lines.back().text.append(physical, 1, std::string::npos);
    } else {
      lines.push_back({physical, number});
    }
  }
  return lines;
}

bool isValidUtf8(const std::string &bytes) {
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

}  // namespace vcard
