/* addressbook-query filters (RFC 6352 10.5) and their evaluation on a card's text. Text is
 * compared under a collation (RFC 4790): i;unicode-casemap (the default; ICU's NFKC case
 * fold stands in for RFC 5051's titlecase-and-decompose, which it agrees with on what
 * equals what), i;ascii-casemap and i;octet. */
#ifndef BOOKD_CARDDAV_CARDFILTER_H
#define BOOKD_CARDDAV_CARDFILTER_H

#include <string>
#include <vector>

namespace carddav {

enum class Collation { kUnicodeCasemap, kAsciiCasemap, kOctet };
enum class MatchType { kEquals, kContains, kStartsWith, kEndsWith };

// False for a collation this server does not have ("default" is i;unicode-casemap).
bool collationNamed(const std::string &name, Collation *collation);
// Maps text to the form in which the collation compares it bytewise.
std::string foldText(const std::string &text, Collation collation);

struct TextMatch {
  std::string folded;  // the text to look for, already foldText'ed
  Collation collation = Collation::kUnicodeCasemap;
  MatchType matchType = MatchType::kContains;
  bool negate = false;
};

struct ParamFilter {
  std::string name;  // upper case
  bool isNotDefined = false;
  bool hasTextMatch = false;
  TextMatch textMatch;
};

struct PropFilter {
  std::string name;  // upper case
  bool allOf = false;
  bool isNotDefined = false;
  std::vector<TextMatch> textMatches;
  std::vector<ParamFilter> paramFilters;
};

struct CardFilter {
  bool allOf = false;
  std::vector<PropFilter> propFilters;  // none: every card matches
};

bool filterMatches(const CardFilter &filter, const std::string &cardText);

}  // namespace carddav

#endif
