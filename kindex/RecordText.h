// How kindex shows records: one line per record for list, search and groups (tab-separated,
// for pipes), and a block of "Field: value" lines for show.
#pragma once

#import <Kindex/Kindex.h>

#include <string>

namespace kindex {

// First and last name, else the formatted name (a card's FN), else the organisation, else the
// first e-mail, else "(no name)".
std::string displayName(KXPerson *person);
// The preferred e-mail address, or "".
std::string primaryEmail(KXPerson *person);

// "ID<tab>name<tab>e-mail\n"; tabs and line breaks inside a field become blanks.
std::string personLine(KXPerson *person);
// "ID<tab>name<tab>number of members\n".
std::string groupLine(KXGroup *group);

// Whether TEXT occurs in the person's names, e-mail addresses or organisation, ignoring letter
// case but not accents: "zoe" finds "ZOE" and not "Zoë".
bool personMatches(KXPerson *person, NSString *text);

std::string personDetails(KXPerson *person, KXAddressBook *book);
std::string groupDetails(KXGroup *group);

}  // namespace kindex
