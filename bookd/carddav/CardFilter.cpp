#include "CardFilter.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "VCardText.h"

namespace carddav {

namespace {

bool matchesText(const TextMatch &match, const std::string &value) {
  const std::string haystack = foldText(value, match.collation);
  const std::string &needle = match.folded;
  bool found = false;
  switch (match.matchType) {
    case MatchType::kEquals:
      found = haystack == needle;
      break;
    case MatchType::kContains:
      found = haystack.find(needle) != std::string::npos;
      break;
    case MatchType::kStartsWith:
      found = haystack.compare(0, needle.size(), needle) == 0;
      break;
    case MatchType::kEndsWith:
      found = haystack.size() >= needle.size() &&
              haystack.compare(haystack.size() - needle.size(), needle.size(), needle) == 0;
      break;
  }
  return found != match.negate;
}

bool paramMatches(const ParamFilter &filter, const VCardProperty &property) {
  bool defined = false;
  bool matched = false;
  for (const auto &param : property.params) {
    if (param.first != filter.name) continue;
    defined = true;
    if (!filter.hasTextMatch) continue;
    for (const std::string &value : param.second) matched = matched || matchesText(filter.textMatch, value);
  }
  if (filter.isNotDefined) return !defined;
  return filter.hasTextMatch ? matched : defined;
}

// Whether one instance of the property meets the prop-filter's tests.
bool instanceMatches(const PropFilter &filter, const VCardProperty &property) {
  const size_t tests = filter.textMatches.size() + filter.paramFilters.size();
  if (tests == 0) return true;
  size_t passed = 0;
  for (const TextMatch &match : filter.textMatches) passed += matchesText(match, property.value);
  for (const ParamFilter &param : filter.paramFilters) passed += paramMatches(param, property);
  return filter.allOf ? passed == tests : passed > 0;
}

}  // namespace

bool collationNamed(const std::string &name, Collation *collation) {
  if (name.empty() || name == "default" || name == "i;unicode-casemap") {
    *collation = Collation::kUnicodeCasemap;
  } else if (name == "i;ascii-casemap") {
    *collation = Collation::kAsciiCasemap;
  } else if (name == "i;octet") {
    *collation = Collation::kOctet;
  } else {
    return false;
  }
  return true;
}

std::string foldText(const std::string &text, Collation collation) {
  if (collation == Collation::kOctet) return text;
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (collation == Collation::kAsciiCasemap || ascii) {
    std::string folded = text;
    for (char &c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2 *fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  if (U_FAILURE(status)) return text;
  icu::UnicodeString folded = fold->normalize(icu::UnicodeString::fromUTF8(text), status);
  if (U_FAILURE(status)) return text;
  std::string out;
  folded.toUTF8String(out);
  return out;
}

bool filterMatches(const CardFilter &filter, const std::string &cardText) {
  if (filter.propFilters.empty()) return true;
  std::vector<VCardProperty> properties;
  scanVCard(cardText, [&](const VCardProperty &property) { properties.push_back(property); });
  size_t passed = 0;
  for (const PropFilter &propFilter : filter.propFilters) {
    bool defined = false;
    bool matched = false;
    for (const VCardProperty &property : properties) {
      if (property.name != propFilter.name) continue;
      defined = true;
      matched = matched || instanceMatches(propFilter, property);
    }
    passed += propFilter.isNotDefined ? !defined : matched;
  }
  return filter.allOf ? passed == filter.propFilters.size() : passed > 0;
}

}  // namespace carddav
