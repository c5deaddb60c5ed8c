#include "vcard/VcardReader.h"

#include <cctype>

#include "vcard/VcardEncoding.h"
#include "vcard/VcardText.h"

namespace vcard {

namespace {

bool isName(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (!(std::isalnum(c) || c == '-' || c == '_')) return false;
  return true;
}

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::string_view trim(std::string_view text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::string_view();
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

std::string trim(const std::string &text) {
  return std::string(trim(std::string_view(text)));
}

// Calls part(piece) for each piece of text between the `separator`s that are not inside double
// quotes; the pieces point into text. Stops at the first part that answers false.
template <typename Part>
bool forEachOutsideQuotes(std::string_view text, char separator, Part part) {
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '"') quoted = !quoted;
    if (i == text.size() || (text[i] == separator && !quoted)) {
      if (!part(text.substr(start, i - start))) return false;
      start = i + 1;
    }
  }
  return true;
}

bool isEncodingWord(const std::string &upper) {
  return upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "8BIT" || upper == "7BIT";
}

// One content line split into its parts, the value still as the file has it.
struct ContentLine {
  std::string group, name;  // name in upper case
  std::vector<Parameter> params;
  std::string value;
};

void addParam(std::vector<Parameter> &params, const std::string &name, std::string value) {
  for (Parameter &p : params) {
    if (p.name == name) {
      p.values.push_back(std::move(value));
      return;
    }
  }
  params.push_back({name, {std::move(value)}});
}

const char *const kNoColon = "no colon in the line";
const char *const kUnterminatedQuote = "unterminated quoted parameter value";

// Where the value begins: the first colon outside double quotes, or npos.
size_t valueColon(std::string_view text, bool *quoted) {
  *quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') *quoted = !*quoted;
    if (text[i] == ':' && !*quoted) return i;
  }
  return std::string_view::npos;
}

// One parameter segment of a content line into params; false with a message when it is not one.
bool parseParameter(std::string_view segment, bool carets, std::vector<Parameter> &params,
                    std::string &error) {
  size_t equals = segment.find('=');
  if (equals == std::string_view::npos) {
    std::string_view word = trim(segment);
    if (word.empty()) return true;
    if (!isName(word)) {
      error = "bad parameter";
      return false;
    }
    bool encoding = isEncodingWord(upperAscii(std::string(word)));
    addParam(params, encoding ? "ENCODING" : "TYPE", std::string(word));
    return true;
  }
  std::string paramName = upperAscii(std::string(trim(segment.substr(0, equals))));
  if (!isName(paramName)) {
    error = "bad parameter name";
    return false;
  }
  return forEachOutsideQuotes(segment.substr(equals + 1), ',', [&](std::string_view piece) {
    if (piece.size() >= 2 && piece.front() == '"' && piece.back() == '"') {
      piece = piece.substr(1, piece.size() - 2);
    } else if (piece.find('"') != std::string_view::npos) {
      error = "bad quoted parameter value";
      return false;
    }
    std::string value = carets ? decodeCaretEscapes(std::string(piece)) : std::string(piece);
    if (paramName != "TYPE") {
      addParam(params, paramName, std::move(value));
      return true;
    }
    // TYPE="work,voice" (RFC 6350's own example) lists two types.
    forEachOutsideQuotes(value, ',', [&](std::string_view type) {
      if (!type.empty()) addParam(params, paramName, std::string(type));
      return true;
    });
    return true;
  });
}

// [group "."] name *(";" param) ":" value, where a param is name "=" value *("," value) or, as
// 2.1 writes it, a bare word: a TYPE value, or an encoding. `carets` decodes RFC 6868 escapes.
bool parseContentLine(std::string_view text, bool carets, ContentLine &out, std::string &error) {
  bool quoted = false;
  size_t colon = valueColon(text, &quoted);
  if (colon == std::string_view::npos) {
    error = quoted ? kUnterminatedQuote : kNoColon;
    return false;
  }
  bool first = true;
  bool parsed = forEachOutsideQuotes(text.substr(0, colon), ';', [&](std::string_view segment) {
    if (!first) return parseParameter(segment, carets, out.params, error);
    first = false;
    std::string_view name = trim(segment);
    size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
      out.group.assign(name.substr(0, dot));
      name = name.substr(dot + 1);
    }
    if (!isName(name) || (dot != std::string_view::npos && !isName(out.group))) {
      error = "bad property name";
      return false;
    }
    out.name = upperAscii(std::string(name));
    return true;
  });
  if (!parsed) return false;
  out.value.assign(text.substr(colon + 1));
  return true;
}

// Whether the head of a line (up to its value) may name an encoding, which changes how the
// lines after it join. Most lines name none, and this spares parsing them twice.
bool mayNameEncoding(std::string_view head) {
  static const char *const words[] = {"ENCODING", "QUOTED-PRINTABLE", "BASE64"};
  for (const char *word : words) {
    std::string_view w(word);
    for (size_t i = 0; i + w.size() <= head.size(); ++i) {
      size_t k = 0;
      while (k < w.size() && std::toupper(static_cast<unsigned char>(head[i + k])) == w[k]) ++k;
      if (k == w.size()) return true;
    }
  }
  return false;
}

// A line break inside a decoded value, written as 3.0 and 4.0 escape it.
std::string escapeLineBreaks(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A 2.1 value in the escaped form of 3.0. 2.1 escapes ';' (and writers escape '\' and ',' too)
// but leaves a comma bare, which 3.0 reads as a list separator: bare commas are escaped, except
// in the values that are lists in 3.0 too, and values that are not text (URIs, dates, phone
// numbers, coordinates) are kept as they are.
std::string valueFrom21(const std::string &name, const std::string &text) {
  static const char *const notText[] = {"URL", "GEO",   "BDAY", "REV",   "TZ",
                                        "TEL", "PHOTO", "LOGO", "SOUND", "KEY"};
  for (const char *n : notText)
    if (name == n) return escapeLineBreaks(text);
  bool list = name == "CATEGORIES" || name == "NICKNAME";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '\\') {
      if (next == ';' || next == ',' || next == '\\') {
        out += '\\';
        out += next;
        ++i;
      } else if (next == 'n' || next == 'N') {
        out += "\\n";
        ++i;
      } else {
        out += "\\\\";  // a backslash of its own, as in C:\dir
      }
    } else if (c == ',') {
      out += list ? "," : "\\,";
    } else if (c == '\r' || c == '\n') {
      out += "\\n";
      if (c == '\r' && next == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

struct LogicalLine {
  std::string text;
  int line = 0;
  std::string embedded;  // AGENT (2.1): the text of the card written inside it
  bool hasEmbedded = false;
  // The text parsed without RFC 6868 escapes, once: what the card's end makes of it again.
  bool parsed = false;
  ContentLine content;
  std::string error;
};

class CardReader {
 public:
  CardReader(const FileText &file, ReadResult &result)
      : legacy_(file.kind == FileText::kLegacy), lines_(file.text), result_(result) {}

  void run();

 private:
  bool nextLogicalLine(LogicalLine &logical);
  void finishCard();
  bool decodeProperty(LogicalLine &logical, bool v21, Property &property, std::string &error);
  bool toText(const std::string &bytes, const std::string &charset, bool encoded, int line, std::string &text,
              std::string &error);

  bool legacy_;
  PhysicalLines lines_;
  bool version21_ = false;  // the card being read said VERSION:2.1, which changes how QP lines join
  bool warnedLegacy_ = false;
  int cardLine_ = 0;
  std::vector<LogicalLine> cardLines_;
  ReadResult &result_;
};

// One content line from as many physical lines as it spans: folded lines, QUOTED-PRINTABLE
// soft line breaks, and the unindented continuation lines of 2.1 BASE64 data.
bool CardReader::nextLogicalLine(LogicalLine &logical) {
  while (!lines_.atEnd() && isBlank(lines_.current().text)) lines_.advance();
  if (lines_.atEnd()) return false;
  PhysicalLine first = lines_.current();
  lines_.advance();
  logical = LogicalLine();
  logical.line = first.line;
  logical.text = std::string(first.text.substr(first.text.find_first_not_of(" \t")));
  bool headKnown = false, quotedPrintable = false, base64 = false;
  while (true) {
    if (!headKnown) {
      // Parameters may go on on the next line until the colon; after it, they are what they are.
      bool quoted = false;
      size_t colon = valueColon(logical.text, &quoted);
      std::string_view head = std::string_view(logical.text).substr(0, colon);
      if (mayNameEncoding(head)) {
        ContentLine parsedHead;
        std::string error;
        bool parsed = parseContentLine(logical.text, false, parsedHead, error);
        headKnown = parsed || (error != kNoColon && error != kUnterminatedQuote);
        for (const Parameter &p : parsedHead.params) {
          if (p.name != "ENCODING") continue;
          for (const std::string &v : p.values) {
            std::string e = upperAscii(v);
            quotedPrintable = quotedPrintable || e == "QUOTED-PRINTABLE";
            base64 = base64 || e == "BASE64" || e == "B";
          }
        }
      } else {
        headKnown = colon != std::string::npos;
      }
    }
    bool more = !lines_.atEnd();
    std::string_view following = more ? lines_.current().text : std::string_view(logical.text);
    bool indented = more && !following.empty() && (following[0] == ' ' || following[0] == '\t');
    // In 2.1 a soft break wins over folding (the next line may well start with a blank of the
    // text); in 3.0 a folded "=" is more likely a cut inside "=XX".
    // A writer that ends a value with a stray "=" must not swallow the card's end.
    if (quotedPrintable && more && !logical.text.empty() && logical.text.back() == '=' &&
        !following.empty() && (version21_ || !indented) &&
        upperAscii(trim(std::string(following))) != "END:VCARD") {
      logical.text.pop_back();
      logical.text += following;
      lines_.advance();
    } else if (indented) {
      logical.text.append(following, 1, std::string::npos);
      lines_.advance();
    } else {
      break;
    }
  }
  if (base64) {
    while (!lines_.atEnd() && !isBlank(lines_.current().text)) {
      std::string_view text = lines_.current().text;
      bool data = true;
      for (char c : text) data = data && isBase64Char(c);
      if (!data) break;
      logical.text += text;
      lines_.advance();
    }
  }
  logical.parsed = parseContentLine(logical.text, false, logical.content, logical.error);
  return true;
}

void CardReader::run() {
  bool inCard = false, lastWasStray = false;
  int agentDepth = 0;  // inside the card written in a 2.1 AGENT, how many BEGINs deep
  LogicalLine logical;
  while (nextLogicalLine(logical)) {
    const ContentLine &content = logical.content;
    bool parsed = logical.parsed;
    bool beginOrEnd = parsed && (content.name == "BEGIN" || content.name == "END");
    std::string word = beginOrEnd ? upperAscii(trim(content.value)) : std::string();
    bool isBegin = parsed && content.name == "BEGIN" && word == "VCARD";
    bool isEnd = parsed && content.name == "END" && word == "VCARD";

    if (agentDepth > 0) {
      LogicalLine &agent = cardLines_.back();
      agent.embedded += "\n" + logical.text;
      agentDepth += isBegin ? 1 : isEnd ? -1 : 0;
      continue;
    }
    if (!inCard) {
      if (isBegin) {
        inCard = true, lastWasStray = false, version21_ = false;
        cardLine_ = logical.line;
        cardLines_.clear();
      } else if (!lastWasStray) {
        // One report for a run of stray lines, not one per line.
        result_.errors.push_back(
            {logical.line, isEnd ? "END:VCARD without BEGIN:VCARD" : "text outside a card"});
        lastWasStray = true;
      }
      continue;
    }
    if (isBegin) {
      if (!cardLines_.empty() && cardLines_.back().parsed && cardLines_.back().content.name == "AGENT" &&
          isBlank(cardLines_.back().content.value)) {
        cardLines_.back().embedded = logical.text;
        cardLines_.back().hasEmbedded = true;
        agentDepth = 1;
        continue;
      }
      // The card before never ended; this line starts the next one.
      result_.errors.push_back({cardLine_, "card has no END:VCARD"});
      version21_ = false;
      cardLine_ = logical.line;
      cardLines_.clear();
      continue;
    }
    if (isEnd) {
      finishCard();
      inCard = false;
      continue;
    }
    if (parsed && content.name == "VERSION") version21_ = trim(content.value) == "2.1";
    cardLines_.push_back(std::move(logical));
  }
  if (inCard) result_.errors.push_back({cardLine_, "card has no END:VCARD"});
}

void CardReader::finishCard() {
  Card card;
  card.line = cardLine_;
  int versionLine = cardLine_;
  for (const LogicalLine &logical : cardLines_) {
    if (logical.parsed && logical.content.name == "VERSION") {
      card.version = trim(logical.content.value);
      versionLine = logical.line;
      break;
    }
  }
  if (card.version != "2.1" && card.version != "3.0" && card.version != "4.0") {
    result_.errors.push_back({versionLine, "unsupported vCard version " + printable(card.version)});
    return;
  }
  bool v21 = card.version == "2.1";
  card.properties.reserve(cardLines_.size());
  for (LogicalLine &logical : cardLines_) {
    std::string error;
    Property property;
    if (logical.text.find('\0') != std::string::npos) {
      error = "a NUL byte in the line";
    } else {
      // 3.0 and 4.0 undo RFC 6868 escapes in parameter values: a line that may hold one is
      // parsed again with them.
      if (!v21 && logical.text.find('^') != std::string::npos) {
        logical.content = ContentLine();
        logical.error.clear();
        logical.parsed = parseContentLine(logical.text, true, logical.content, logical.error);
      }
      if (!logical.parsed) {
        error = logical.error;
      } else if (logical.content.name != "VERSION" && decodeProperty(logical, v21, property, error)) {
        card.properties.push_back(std::move(property));
      }
    }
    if (!error.empty()) {
      result_.errors.push_back({logical.line, error});
      return;
    }
  }
  result_.cards.push_back(std::move(card));
}

// Takes the parsed parts out of logical, which is read no more.
bool CardReader::decodeProperty(LogicalLine &logical, bool v21, Property &property, std::string &error) {
  ContentLine &content = logical.content;
  property.group = std::move(content.group);
  property.name = std::move(content.name);
  property.line = logical.line;
  bool quotedPrintable = false, base64 = false;
  std::string charset;
  size_t encodingAt = 0;  // where binary data's ENCODING=b goes back, to keep the order written
  property.params.reserve(content.params.size());
  for (Parameter &p : content.params) {
    if (p.name == "ENCODING") {
      encodingAt = property.params.size();
      for (const std::string &v : p.values) {
        std::string e = upperAscii(v);
        if (e == "QUOTED-PRINTABLE") {
          quotedPrintable = true;
        } else if (e == "BASE64" || e == "B") {
          base64 = true;
        } else if (e != "8BIT" && e != "7BIT") {
          error = "unknown encoding ENCODING=" + printable(v);
          return false;
        }
      }
    } else if (p.name == "CHARSET") {
      if (!p.values.empty()) charset = p.values.front();
    } else {
      // A legacy file's parameters are in its own 8-bit set too.
      if (legacy_)
        for (std::string &v : p.values)
          if (!toText(std::string(v), std::string(), false, logical.line, v, error)) return false;
      // 2.1 says VALUE=URL where 3.0 and 4.0 say uri.
      if (v21 && p.name == "VALUE" && p.values.size() == 1 && upperAscii(p.values[0]) == "URL")
        p.values[0] = "uri";
      property.params.push_back(std::move(p));
    }
  }
  std::string text;
  if (logical.hasEmbedded) {
    if (!toText(logical.embedded, charset, false, logical.line, text, error)) return false;
    if (text.find('\0') != std::string::npos) {
      error = "a NUL byte in the card inside AGENT";
      return false;
    }
    property.value = escapeText(text);
    return true;
  }
  if (!legacy_ && !quotedPrintable && !base64) {
    // Text as the file has it, which nearly every value is: taken, not copied.
    if (content.value.find('\0') != std::string::npos) {
      error = "a NUL byte in the value";
      return false;
    }
    property.value = v21 ? valueFrom21(property.name, content.value) : std::move(content.value);
    return true;
  }
  std::string unquoted = quotedPrintable ? decodeQuotedPrintable(content.value) : std::string();
  const std::string &bytes = quotedPrintable ? unquoted : content.value;
  if (base64) {
    std::string data;
    data.reserve(bytes.size());
    for (char c : bytes)
      if (c != ' ' && c != '\t') data += c;
    // Text sent as base64 (a name, a note) is text: UTF-8, or in the CHARSET it names. Anything
    // else (a picture under an X- name) stays base64 data, never guessed to be Windows-1252.
    std::string decoded, ignored;
    bool textual = !isMediaProperty(property.name) && decodeBase64(data, decoded) &&
                   (charset.empty() ? isValidUtf8(decoded) : convertToUtf8(decoded, charset, text, ignored));
    if (textual && charset.empty()) text = decoded;
    if (!textual || text.find('\0') != std::string::npos) {
      // Damaged data in an 8-bit file still becomes UTF-8, as the model promises.
      if (legacy_ && !toText(std::string(data), std::string(), false, logical.line, data, error))
        return false;
      property.params.insert(property.params.begin() + static_cast<long>(encodingAt), {"ENCODING", {"b"}});
      property.value = std::move(data);
      return true;
    }
  } else if (!toText(bytes, charset, quotedPrintable, logical.line, text, error)) {
    return false;
  }
  if (text.find('\0') != std::string::npos) {
    error = "a NUL byte in the value";
    return false;
  }
  if (v21) {
    property.value = valueFrom21(property.name, text);
  } else if (quotedPrintable || base64) {
    property.value = escapeLineBreaks(text);
  } else {
    property.value = std::move(text);
  }
  return true;
}

// The UTF-8 text of a value: bytes that came encoded, or any value of a legacy file, are read
// in the value's CHARSET, else as UTF-8 where they are that, else as Windows-1252.
bool CardReader::toText(const std::string &bytes, const std::string &charset, bool encoded, int line,
                        std::string &text, std::string &error) {
  if (!legacy_ && !encoded) {
    text = bytes;
    return true;
  }
  if (!charset.empty()) return convertToUtf8(bytes, charset, text, error);
  if (isValidUtf8(bytes)) {
    text = bytes;
    return true;
  }
  if (!warnedLegacy_) {
    result_.warnings.push_back({line, "text that is not UTF-8 and names no CHARSET is read as Windows-1252"});
    warnedLegacy_ = true;
  }
  text = windows1252ToUtf8(bytes);
  return true;
}

}  // namespace

ReadResult readCards(std::string_view bytes) {
  ReadResult result;
  FileText file;
  decodeFile(bytes, file);
  if (file.kind == FileText::kBroken) {
    result.errors.push_back({1, file.error});
    return result;
  }
  CardReader(file, result).run();
  return result;
}

bool parseProperty(const std::string &line, Property &property, std::string &error) {
  ContentLine content;
  if (!parseContentLine(line, true, content, error)) return false;
  property = Property(content.name, content.value);
  property.group = content.group;
  property.params = content.params;
  return true;
}

}  // namespace vcard
