// Turns a person record into a vCard card and a card into a new person record. What a card can
// carry and a person cannot (FN beside the names, prefixes, suffixes, UID, photos, ...) is
// dropped on the way in; multi-value labels travel as TYPE parameters.
#pragma once

#import <Kindex/Kindex.h>

#include <string>
#include <vector>

#include "VcardCard.h"

namespace kindex {

// `groupNames` are the names of the groups the person is a member of: they become CATEGORIES.
vcard::Card cardFromPerson(KXPerson *person, const std::vector<std::string> &groupNames);

// A new person, in no book yet, with the card's names, organisation, e-mails, phones, postal
// addresses and notes.
// The caller owns the result (it is not autoreleased).
KXPerson *newPersonFromCard(const vcard::Card &card);

// Whether the card names its person (N or FN): one that does not is no person to import.
bool cardNamesAPerson(const vcard::Card &card);

// The names of the groups the card's CATEGORIES put its person in, in order.
std::vector<std::string> cardCategories(const vcard::Card &card);

}  // namespace kindex
