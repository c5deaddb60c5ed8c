#include "vcard/VcardWriter.h"

#include "vcard/VcardText.h"

namespace vcard {

namespace {

bool startsWithNoCase(const std::string &text, const std::string &prefix) {
  return upperAscii(text.substr(0, prefix.size())) == upperAscii(prefix);
}

std::string joinWords(const std::vector<std::string> &words) {
  std::string out;
  for (const std::string &w : words) {
    if (w.empty()) continue;
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

std::string derivedFormattedName(const Card &card) {
  std::string name;
  if (const Property *n = card.find("N")) {
    std::vector<std::vector<std::string>> parts = n->components();
    parts.resize(5);
    name = joinWords({joinWords(parts[3]), joinWords(parts[1]), joinWords(parts[2]), joinWords(parts[0]),
                      joinWords(parts[4])});
  }
  if (name.empty())
    if (const Property *org = card.find("ORG")) name = joinWords(org->components().front());
  if (name.empty())
    if (const Property *email = card.find("EMAIL")) name = email->text();
  return name;
}

std::string derivedName(const Card &card) {
  const Property *fn = card.find("FN");
  const Property *kind = card.find("KIND");
  bool individual = kind == nullptr || upperAscii(kind->text()) == "INDIVIDUAL";
  std::vector<std::string> words;
  if (fn != nullptr && individual) {
    std::string word;
    for (char c : fn->text() + " ") {
      if (c == ' ' || c == '\t' || c == '\n') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word += c;
      }
    }
  }
  if (words.empty()) return ";;;;";
  std::string family = words.back();
  words.pop_back();
  return structuredValue({{family}, {joinWords(words)}, {}, {}, {}});
}

// The property in the forms of the version it is written in (see the table in VcardWriter.h).
Property converted(Property p, Version version) {
  p.name = version == Version::v3 ? nameIn30(p.name) : nameIn40(p.name);
  bool media = isMediaProperty(p.name);
  std::string mediaType, data;
  const Parameter *value = p.param("VALUE");
  bool valueIsUri = value != nullptr && value->values.size() == 1 && upperAscii(value->values[0]) == "URI";
  if (version == Version::v4) {
    if (p.hasType("PREF")) {
      std::vector<std::string> types;
      for (const std::string &t : p.param("TYPE")->values)
        if (upperAscii(t) != "PREF") types.push_back(t);
      if (types.empty()) {
        p.removeParam("TYPE");
      } else {
        p.setParam("TYPE", types);
      }
      if (p.param("PREF") == nullptr) p.setParam("PREF", {"1"});
    }
    if (media && p.param("ENCODING") != nullptr && p.binaryData(mediaType, data)) {
      p.removeParam("ENCODING");
      std::vector<std::string> types = p.types();
      if (!types.empty()) types.erase(types.begin());  // the format, now in the media type
      if (types.empty()) {
        p.removeParam("TYPE");
      } else {
        p.setParam("TYPE", types);
      }
      p.value = "data:" + mediaType + ";base64," + data;
    } else if (media && valueIsUri) {
      p.removeParam("VALUE");  // a URI is what 4.0 takes anyway
    }
    std::vector<std::string> coordinates = splitEscaped(p.value, ';');
    if (p.name == "GEO" && coordinates.size() == 2 && p.value.find(',') == std::string::npos)
      p.value = "geo:" + coordinates[0] + "," + coordinates[1];
  } else {
    const Parameter *pref = p.param("PREF");
    if (pref != nullptr && pref->values.size() == 1 && pref->values[0] == "1") {
      p.removeParam("PREF");
      if (!p.hasType("PREF")) p.addType("pref");
    }
    if (media && p.param("ENCODING") == nullptr && p.binaryData(mediaType, data)) {
      p.value = data;
      p.setParam("ENCODING", {"b"});
      if (!mediaType.empty()) {
        std::vector<std::string> types = p.types();
        types.insert(types.begin(), formatForMediaType(p.name, mediaType));
        p.setParam("TYPE", types);
      }
    } else if (media && value == nullptr && p.param("ENCODING") == nullptr) {
      p.setParam("VALUE", {"uri"});  // 3.0 takes binary data unless told otherwise
    }
    if (p.name == "GEO" && startsWithNoCase(p.value, "geo:")) {
      std::string coordinates = p.value.substr(4);
      size_t comma = coordinates.find(',');
      if (comma != std::string::npos && coordinates.find_first_of(";,", comma + 1) == std::string::npos)
        p.value = coordinates.substr(0, comma) + ";" + coordinates.substr(comma + 1);
    }
  }
  return p;
}

}  // namespace

Property convertedProperty(const Property &property, Version version) {
  return converted(property, version);
}

std::string contentLine(const Property &p) {
  std::string line = p.group.empty() ? p.name : p.group + "." + p.name;
  for (const Parameter &param : p.params) {
    line += ";" + param.name + "=";
    for (size_t i = 0; i < param.values.size(); ++i)
      line += (i ? "," : "") + encodeParamValue(param.values[i]);
  }
  line += ':';
  // A value holds no line break of its own; one that a caller put there is escaped, not
  // allowed to end the line.
  for (size_t i = 0; i < p.value.size(); ++i) {
    char c = p.value[i];
    if (c == '\r' || c == '\n') {
      line += "\\n";
      if (c == '\r' && i + 1 < p.value.size() && p.value[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  return line;
}

std::string writeCard(const Card &card, Version version) {
  std::string out =
      foldLine("BEGIN:VCARD") + foldLine(version == Version::v4 ? "VERSION:4.0" : "VERSION:3.0");
  const Property *fn = card.find("FN");
  // A made N goes right after FN, where a card that has both holds it, so that a card read
  // back and written again comes out the same.
  std::string madeName;
  if (version == Version::v3 && card.find("N") == nullptr)
    madeName = foldLine(contentLine(Property("N", derivedName(card))));
  if (fn == nullptr) {
    out += foldLine(contentLine(Property("FN", textValue(derivedFormattedName(card))))) + madeName;
    madeName.clear();
  }
  for (const Property &p : card.properties) {
    if (p.name == "BEGIN" || p.name == "END" || p.name == "VERSION") continue;
    out += foldLine(contentLine(converted(p, version)));
    if (&p == fn) {
      out += madeName;
      madeName.clear();
    }
  }
  return out + foldLine("END:VCARD");
}

}  // namespace vcard
