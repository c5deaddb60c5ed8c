#include "vcard/VcardCard.h"

#include <cstdlib>

#include "vcard/VcardText.h"

namespace vcard {

namespace {

// 3.0 names that Apple and others write for what 4.0 made standard.
struct Alias {
  const char *standard, *x;
};
const Alias kAliases[] = {{"KIND", "X-ADDRESSBOOKSERVER-KIND"},
                          {"MEMBER", "X-ADDRESSBOOKSERVER-MEMBER"},
                          {"GENDER", "X-GENDER"},
                          {"ANNIVERSARY", "X-ANNIVERSARY"}};

// The 4.0 name of a 3.0 X- name, else the name itself, as a view of one or the other.
std::string_view aliasIn40(std::string_view name) {
  // Every alias is an X- name; finding a card's properties asks this of each of them.
  if (name.size() < 2 || name[0] != 'X' || name[1] != '-') return name;
  for (const Alias &alias : kAliases)
    if (name == alias.x) return alias.standard;
  return name;
}

// The family of media types each binary property's data belongs to.
const char *mediaFamily(const std::string &propertyName) {
  if (propertyName == "SOUND") return "audio/";
  if (propertyName == "KEY") return "application/";
  return "image/";
}

// Formats whose media type is not their family and their name in lower case.
struct Format {
  const char *format, *mediaType;
};
const Format kFormats[] = {{"PGP", "application/pgp-keys"}, {"X509", "application/pkix-cert"}};

std::string lowerAscii(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

const Parameter *Property::param(std::string_view name) const {
  for (const Parameter &p : params)
    if (p.name == name) return &p;
  return nullptr;
}

void Property::setParam(const std::string &name, const std::vector<std::string> &values) {
  for (Parameter &p : params) {
    if (p.name == name) {
      p.values = values;
      return;
    }
  }
  params.push_back({name, values});
}

void Property::removeParam(const std::string &name) {
  for (size_t i = 0; i < params.size(); ++i) {
    if (params[i].name == name) {
      params.erase(params.begin() + static_cast<long>(i));
      return;
    }
  }
}

std::vector<std::string> Property::types() const {
  std::vector<std::string> out;
  if (const Parameter *type = param("TYPE"))
    for (const std::string &t : type->values)
      if (!t.empty()) out.push_back(t);
  return out;
}

bool Property::hasType(const std::string &type) const {
  std::string wanted = upperAscii(type);
  for (const std::string &t : types())
    if (upperAscii(t) == wanted) return true;
  return false;
}

void Property::addType(const std::string &type) {
  for (Parameter &p : params) {
    if (p.name == "TYPE") {
      p.values.push_back(type);
      return;
    }
  }
  params.push_back({"TYPE", {type}});
}

int Property::preference() const {
  if (const Parameter *pref = param("PREF")) {
    for (const std::string &v : pref->values) {
      int rank = std::atoi(v.c_str());
      if (rank >= 1 && rank <= 100) return rank;
    }
  }
  return hasType("PREF") ? 1 : 0;
}

std::string Property::text() const {
  return unescapeText(value);
}

std::vector<std::vector<std::string>> Property::components() const {
  std::vector<std::vector<std::string>> out;
  for (const std::string &component : splitEscaped(value, ';')) {
    out.emplace_back();
    for (const std::string &item : splitEscaped(component, ',')) out.back().push_back(unescapeText(item));
  }
  return out;
}

bool Property::binaryData(std::string &mediaType, std::string &base64) const {
  const Parameter *encoding = param("ENCODING");
  if (encoding != nullptr) {
    for (const std::string &v : encoding->values) {
      if (upperAscii(v) != "B") continue;
      std::vector<std::string> format = types();
      mediaType = format.empty() ? std::string() : mediaTypeForFormat(name, format.front());
      base64 = value;
      return true;
    }
  }
  // data:[<mediatype>][;parameter=value]*;base64,<data>
  if (lowerAscii(value.substr(0, 5)) != "data:") return false;
  size_t comma = value.find(',');
  if (comma == std::string::npos || comma < 12) return false;
  if (lowerAscii(value.substr(comma - 7, 7)) != ";base64") return false;
  std::string head = value.substr(5, comma - 12);
  mediaType = head.substr(0, head.find(';'));
  base64 = value.substr(comma + 1);
  return true;
}

std::string_view Property::standardName() const {
  return aliasIn40(name);
}

const Property *Card::find(std::string_view name) const {
  for (const Property &p : properties)
    if (p.standardName() == name) return &p;
  return nullptr;
}

std::vector<const Property *> Card::findAll(std::string_view name) const {
  std::vector<const Property *> out;
  for (const Property &p : properties)
    if (p.standardName() == name) out.push_back(&p);
  return out;
}

Property &Card::add(const std::string &name, const std::string &value) {
  properties.emplace_back(name, value);
  return properties.back();
}

std::string textValue(const std::string &text) {
  return escapeText(text);
}

std::string listValue(const std::vector<std::string> &items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + escapeText(items[i]);
  return out;
}

std::string structuredValue(const std::vector<std::vector<std::string>> &components) {
  std::string out;
  for (size_t i = 0; i < components.size(); ++i) out += (i ? ";" : "") + listValue(components[i]);
  return out;
}

std::string nameIn30(const std::string &name) {
  for (const Alias &alias : kAliases)
    if (name == alias.standard) return alias.x;
  return name;
}

std::string nameIn40(const std::string &name) {
  return std::string(aliasIn40(name));
}

bool isMediaProperty(std::string_view name) {
  return name == "PHOTO" || name == "LOGO" || name == "SOUND" || name == "KEY";
}

std::string mediaTypeForFormat(const std::string &propertyName, const std::string &format) {
  if (format.find('/') != std::string::npos) return lowerAscii(format);
  std::string upper = upperAscii(format);
  for (const Format &f : kFormats)
    if (upper == f.format) return f.mediaType;
  return mediaFamily(propertyName) + lowerAscii(format);
}

std::string formatForMediaType(const std::string &propertyName, const std::string &mediaType) {
  std::string lower = lowerAscii(mediaType);
  for (const Format &f : kFormats)
    if (lower == f.mediaType) return f.format;
  std::string family = mediaFamily(propertyName);
  if (lower.compare(0, family.size(), family) == 0 && lower.size() > family.size())
    return upperAscii(lower.substr(family.size()));
  return mediaType;
}

}  // namespace vcard
