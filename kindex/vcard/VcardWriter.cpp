#include "VcardWriter.h"

#include "VcardText.h"

namespace vcard {

namespace {

bool isSafeParamChar(unsigned char c) {
  return c >= 0x20 && c != 0x7F && c != '"' && c != ';' && c != ':' && c != ',';
}

// A TYPE value goes out bare when it can, quoted otherwise; a quoted string cannot hold a
// double quote or a control character, so those are dropped.
std::string paramValue(const std::string &value) {
  bool bare = !value.empty();
  for (unsigned char c : value) bare = bare && isSafeParamChar(c);
  if (bare) return value;
  std::string quoted = "\"";
  for (unsigned char c : value)
    if (c >= 0x20 && c != 0x7F && c != '"') quoted += static_cast<char>(c);
  return quoted + "\"";
}

// NAME;TYPE=a,b,PREF: with the types of one value.
std::string typedName(const char *name, const std::vector<std::string> &valueTypes, bool preferred,
                      const char *extraType) {
  std::string line = name;
  std::vector<std::string> types;
  if (extraType) types.push_back(extraType);
  types.insert(types.end(), valueTypes.begin(), valueTypes.end());
  if (preferred) types.push_back("PREF");
  for (size_t i = 0; i < types.size(); ++i) {
    line += i == 0 ? ";TYPE=" : ",";
    line += paramValue(types[i]);
  }
  return line + ":";
}

std::string typedLine(const char *name, const TypedValue &typed, const char *extraType) {
  return typedName(name, typed.types, typed.preferred, extraType) + escapeText(typed.value);
}

std::string addressLine(const PostalAddress &address) {
  return typedName("ADR", address.types, address.preferred, nullptr) + ";;" +
         escapeText(address.street) + ";" + escapeText(address.city) + ";" +
         escapeText(address.region) + ";" + escapeText(address.postalCode) + ";" +
         escapeText(address.country);
}

std::string derivedFormattedName(const Card &card) {
  std::string name;
  for (const std::string *part : {&card.prefixes, &card.givenName, &card.additionalNames,
                                  &card.familyName, &card.suffixes}) {
    if (part->empty()) continue;
    if (!name.empty()) name += ' ';
    name += *part;
  }
  if (name.empty()) name = card.organization;
  if (name.empty() && !card.emails.empty()) name = card.emails.front().value;
  return name;
}

}  // namespace

std::string writeCard(const Card &card) {
  std::string out = foldLine("BEGIN:VCARD") + foldLine("VERSION:3.0");
  out += foldLine("N:" + escapeText(card.familyName) + ";" + escapeText(card.givenName) + ";" +
                  escapeText(card.additionalNames) + ";" + escapeText(card.prefixes) + ";" +
                  escapeText(card.suffixes));
  std::string fn = card.formattedName.empty() ? derivedFormattedName(card) : card.formattedName;
  out += foldLine("FN:" + escapeText(fn));
  if (!card.nickname.empty()) out += foldLine("NICKNAME:" + escapeText(card.nickname));
  if (!card.organization.empty() || !card.department.empty()) {
    std::string org = "ORG:" + escapeText(card.organization);
    if (!card.department.empty()) org += ";" + escapeText(card.department);
    out += foldLine(org);
  }
  if (!card.title.empty()) out += foldLine("TITLE:" + escapeText(card.title));
  for (const TypedValue &email : card.emails) out += foldLine(typedLine("EMAIL", email, "INTERNET"));
  for (const TypedValue &phone : card.phones) out += foldLine(typedLine("TEL", phone, nullptr));
  for (const PostalAddress &address : card.addresses) out += foldLine(addressLine(address));
  if (!card.note.empty()) out += foldLine("NOTE:" + escapeText(card.note));
  if (!card.categories.empty()) {
    std::string line = "CATEGORIES:";
    for (size_t i = 0; i < card.categories.size(); ++i) {
      if (i) line += ',';
      line += escapeText(card.categories[i]);
    }
    out += foldLine(line);
  }
  if (!card.uid.empty()) out += foldLine("UID:" + escapeText(card.uid));
  return out + foldLine("END:VCARD");
}

}  // namespace vcard
