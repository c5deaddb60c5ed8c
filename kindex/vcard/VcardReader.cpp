#include "VcardReader.h"

#include <cctype>

#include "VcardText.h"

namespace vcard {

namespace {

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct Param {
  std::string name;                 // upper case
  std::vector<std::string> values;  // as written, quotes removed
};

struct ContentLine {
  std::string name;  // upper case, group prefix removed
  std::vector<Param> params;
  std::string value;  // still escaped
};

bool isNameChar(unsigned char c) { return std::isalnum(c) || c == '-'; }

// name *(";" param) ":" value, where a param is name "=" value *("," value) or, as older cards
// write it, a bare TYPE value.
bool parseContentLine(const std::string &text, ContentLine &out, std::string &error) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] != ';' && text[pos] != ':') ++pos;
  std::string name = text.substr(0, pos);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  bool nameOk = !name.empty();
  for (unsigned char c : name) nameOk = nameOk && isNameChar(c);
  if (pos == text.size()) {
    error = "no colon in the line";
    return false;
  }
  if (!nameOk) {
    error = "bad property name";
    return false;
  }
  out.name = upper(name);
  while (text[pos] == ';') {
    ++pos;
    size_t start = pos;
    while (pos < text.size() && text[pos] != '=' && text[pos] != ';' && text[pos] != ':') ++pos;
    if (pos == text.size()) {
      error = "no colon in the line";
      return false;
    }
    Param param;
    std::string word = text.substr(start, pos - start);
    if (text[pos] != '=') {
      param.name = "TYPE";
      param.values.push_back(word);
    } else {
      param.name = upper(word);
      do {
        ++pos;  // past '=' or ','
        std::string value;
        if (pos < text.size() && text[pos] == '"') {
          size_t close = text.find('"', pos + 1);
          if (close == std::string::npos) {
            error = "unterminated quoted parameter value";
            return false;
          }
          value = text.substr(pos + 1, close - pos - 1);
          pos = close + 1;
        } else {
          size_t vstart = pos;
          while (pos < text.size() && text[pos] != ',' && text[pos] != ';' && text[pos] != ':')
            ++pos;
          value = text.substr(vstart, pos - vstart);
        }
        param.values.push_back(value);
      } while (pos < text.size() && text[pos] == ',');
      if (pos == text.size()) {
        error = "no colon in the line";
        return false;
      }
    }
    if (param.name.empty()) {
      error = "bad parameter name";
      return false;
    }
    out.params.push_back(param);
  }
  if (text[pos] != ':') {
    error = "bad parameter";
    return false;
  }
  out.value = text.substr(pos + 1);
  return true;
}

TypedValue typedValue(const ContentLine &content, bool dropInternet) {
  TypedValue typed;
  typed.value = unescapeText(content.value);
  for (const Param &param : content.params) {
    if (param.name == "PREF") typed.preferred = true;
    if (param.name != "TYPE") continue;
    for (const std::string &type : param.values) {
      std::string key = upper(type);
      if (key == "PREF") {
        typed.preferred = true;
      } else if (!type.empty() && !(dropInternet && key == "INTERNET")) {
        typed.types.push_back(type);
      }
    }
  }
  return typed;
}

std::string component(const std::vector<std::string> &parts, size_t i) {
  return i < parts.size() ? unescapeText(parts[i]) : std::string();
}

// Fills the card from one of its lines; false with a message when the line cannot be taken.
bool applyLine(Card &card, const ContentLine &content, bool &hasName, std::string &error) {
  const std::string &name = content.name;
  static const char *const known[] = {"VERSION", "N",   "FN",   "NICKNAME",   "ORG", "TITLE",
                                      "EMAIL",   "TEL", "ADR",  "NOTE", "CATEGORIES", "UID"};
  bool isKnown = false;
  for (const char *k : known) isKnown = isKnown || name == k;
  if (!isKnown) return true;  // other properties (photos, addresses, ...) are not ours to keep
  for (const Param &param : content.params) {
    if (param.name != "ENCODING") continue;
    for (const std::string &v : param.values) {
      std::string e = upper(v);
      if (e != "8BIT" && e != "7BIT") {
        error = "encoded " + name + " value (ENCODING=" + v + ") is not supported";
        return false;
      }
    }
  }
  if (name == "VERSION") {
    if (content.value != "3.0" && content.value != "4.0") {
      error = "unsupported vCard version " + content.value;
      return false;
    }
  } else if (name == "N") {
    std::vector<std::string> parts = splitEscaped(content.value, ';');
    card.familyName = component(parts, 0);
    card.givenName = component(parts, 1);
    card.additionalNames = component(parts, 2);
    card.prefixes = component(parts, 3);
    card.suffixes = component(parts, 4);
    hasName = true;
  } else if (name == "FN") {
    card.formattedName = unescapeText(content.value);
    hasName = true;
  } else if (name == "NICKNAME") {
    card.nickname = unescapeText(content.value);
  } else if (name == "ORG") {
    std::vector<std::string> parts = splitEscaped(content.value, ';');
    card.organization = component(parts, 0);
    card.department = component(parts, 1);
  } else if (name == "TITLE") {
    card.title = unescapeText(content.value);
  } else if (name == "EMAIL") {
    card.emails.push_back(typedValue(content, true));
  } else if (name == "TEL") {
    card.phones.push_back(typedValue(content, false));
  } else if (name == "ADR") {
    TypedValue typed = typedValue(content, false);
    std::vector<std::string> parts = splitEscaped(content.value, ';');
    PostalAddress address;
    address.street = component(parts, 2);
    address.city = component(parts, 3);
    address.region = component(parts, 4);
    address.postalCode = component(parts, 5);
    address.country = component(parts, 6);
    address.types = typed.types;
    address.preferred = typed.preferred;
    card.addresses.push_back(address);
  } else if (name == "NOTE") {
    card.note = unescapeText(content.value);
  } else if (name == "CATEGORIES") {
    for (const std::string &piece : splitEscaped(content.value, ',')) {
      std::string category = unescapeText(piece);
      if (!category.empty()) card.categories.push_back(category);
    }
  } else if (name == "UID") {
    card.uid = unescapeText(content.value);
  }
  return true;
}

}  // namespace

ReadResult readCards(const std::string &text) {
  ReadResult result;
  bool inCard = false;
  bool cardBad = false;  // the card has an error already: skip to its END
  bool hasName = false;
  bool lastWasStray = false;
  Card card;

  auto fail = [&](int line, const std::string &message) {
    result.errors.push_back({line, message});
    cardBad = true;
  };
  auto unterminated = [&]() {
    if (!cardBad) fail(card.line, "card has no END:VCARD");
  };

  // Some programs start their UTF-8 files with a byte-order mark.
  const std::string bom = "\xEF\xBB\xBF";
  bool hasBom = text.compare(0, bom.size(), bom) == 0;
  for (const LogicalLine &logical : unfold(hasBom ? text.substr(bom.size()) : text)) {
    const std::string &line = logical.text;
    bool blank = line.find_first_not_of(" \t") == std::string::npos;
    if (blank) continue;
    ContentLine content;
    std::string error;
    bool parsed = isValidUtf8(line) ? parseContentLine(line, content, error)
                                    : (error = "not valid UTF-8", false);
    bool isBegin = parsed && content.name == "BEGIN" && upper(content.value) == "VCARD";
    bool isEnd = parsed && content.name == "END" && upper(content.value) == "VCARD";

    if (!inCard) {
      if (isBegin) {
        inCard = true, cardBad = false, hasName = false, lastWasStray = false;
        card = Card();
        card.line = logical.line;
      } else if (!lastWasStray) {
        // One report for a run of stray lines, not one per line.
        result.errors.push_back(
            {logical.line, isEnd ? "END:VCARD without BEGIN:VCARD" : "text outside a card"});
        lastWasStray = true;
      }
      continue;
    }
    if (isBegin) {  // the card before never ended; this line starts the next one
      unterminated();
      cardBad = false, hasName = false;
      card = Card();
      card.line = logical.line;
      continue;
    }
    if (isEnd) {
      if (!cardBad && !hasName) fail(card.line, "card has neither N nor FN");
      if (!cardBad) result.cards.push_back(card);
      inCard = false;
      continue;
    }
    if (cardBad) continue;
    if (!parsed || !applyLine(card, content, hasName, error)) fail(logical.line, error);
  }
  if (inCard) unterminated();
  return result;
}

}  // namespace vcard
