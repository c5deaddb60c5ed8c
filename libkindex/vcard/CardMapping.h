/* The one mapping between vCards and records: what each vCard property becomes in a record
 * (KXProperties.h says what the record holds) and how a record is written as a card again.
 * KXVCard.mm applies what this gives to a book; bookd and kindex reach both through KXVCard.h.
 */
#ifndef KINDEX_CARDMAPPING_H
#define KINDEX_CARDMAPPING_H

#import <Foundation/Foundation.h>

#include <string>
#include <utility>
#include <vector>

#include "vcard/VcardCard.h"

@class KXRecord;

namespace kx {

/* One multi-value entry as a card gives it; the objects are autoreleased and immutable. */
struct CardEntry {
  id value;                  // NSString, or NSDictionary for a postal address
  NSString *label;           // nil for none
  NSDictionary *attributes;  // nil for none
  int rank;                  // the PREF rank, 1 the most preferred; 0 for none
};

/* What a card says about its record. */
struct CardValues {
  std::vector<std::pair<NSString *, NSString *>> strings;            // property, value
  std::vector<std::pair<NSString *, std::vector<CardEntry>>> lists;  // property, entries
  std::vector<std::string> categories;                               // a person's, in order
  std::vector<std::string> members;      // a group's MEMBER values as written, in order
  std::vector<std::string> memberLines;  // and each as its content line
};

bool isGroupCard(const vcard::Card &card);
/* The UID's text; false when the card has none. */
bool cardUid(const vcard::Card &card, std::string *uid);
std::vector<std::string> cardCategories(const vcard::Card &card);
std::vector<std::string> cardMembers(const vcard::Card &card);
/* A person's card must name its person by N or FN. */
bool cardNamesSomeone(const vcard::Card &card);

CardValues valuesFromCard(const vcard::Card &card, bool group);
/* The properties a card of that kind sets or removes: every one valuesFromCard may give. */
const std::vector<NSString *> &cardProperties(bool group);

/* The record as a card: its values, CATEGORIES from the categories it belongs to (a person),
 * MEMBER from its members (a group), and its uid as UID. categories, when given, maps each
 * person's uid to the names of its categories (see categoriesByMember), so that writing a
 * whole book does not ask the book for each person's groups. */
vcard::Card cardFromRecord(KXRecord *record, NSDictionary *categories = nil);
/* uid -> NSArray of category names, for every member of a category of the book. */
NSDictionary *categoriesByMember(NSArray *groups);

/* A MEMBER value names its record with or without "urn:uuid:": the uids to try, in order. */
std::vector<std::string> uidCandidates(const std::string &written);
/* A group is a vCard category when its parameters say so (KXProperties.h). */
bool isCategoryGroup(KXRecord *group);

}  // namespace kx

#endif
