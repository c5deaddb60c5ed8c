// Turns a person record into a vCard card and a card into a new person record. What a card can
// carry and a person cannot (FN beside the names, prefixes, suffixes, UID) is dropped on the way
// in; multi-value labels travel as TYPE parameters.
#pragma once

#import <Kindex/Kindex.h>

#include <string>
#include <vector>

#include "VcardCard.h"

namespace kindex {

// `groupNames` are the names of the groups the person is a member of: they become CATEGORIES.
vcard::Card cardFromPerson(KXPerson *person, const std::vector<std::string> &groupNames);

// A new person, in no book yet, with the card's names, organisation, e-mails, phones, postal
// addresses and note.
// The caller owns the result (it is not autoreleased).
KXPerson *newPersonFromCard(const vcard::Card &card);

}  // namespace kindex
