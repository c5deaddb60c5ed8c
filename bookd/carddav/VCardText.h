/* The little of vCard the protocol layer reads itself: content lines with their names,
 * parameters and values, for addressbook-query filters and for returning only some
 * properties of a card. It reads 3.0 and 4.0 alike and never changes a card it passes on. A
 * later step may put the project's vCard reader behind scanVCard. */
#ifndef BOOKD_CARDDAV_VCARDTEXT_H
#define BOOKD_CARDDAV_VCARDTEXT_H

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace carddav {

struct VCardProperty {
  std::string name;  // upper case, without its group ("item1.EMAIL" gives "EMAIL")
  // Parameter names in upper case with their values, unquoted and split at commas; a
  // nameless parameter (vCard 2.1's "TEL;WORK:") counts as a TYPE.
  std::vector<std::pair<std::string, std::vector<std::string>>> params;
  // The value unfolded, with "\n" and "\N" as a line break and "\\", "\,", "\;" as the
  // character; structured values keep ';' between their parts.
  std::string value;
  // Where the content line lies in the text, its folds and line end included.
  size_t begin = 0, end = 0;
};

// Calls each for every content line of text, in order (BEGIN and END included); a line
// without a colon is skipped.
void scanVCard(const std::string &text, const std::function<void(const VCardProperty &)> &each);

// The card with only BEGIN, END, VERSION and the named properties (upper case) kept; a
// property mapped to true keeps its name and parameters but loses its value.
std::string selectProperties(const std::string &text, const std::map<std::string, bool> &keep);

// The vCard version a card text declares: 4 for "VERSION:4.0", otherwise 3.
int declaredVersion(const std::string &text);

}  // namespace carddav

#endif
