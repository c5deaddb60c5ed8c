#import "Commands.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "PersonCard.h"
#include "RecordText.h"
#include "TextBridge.h"
#include "VcardReader.h"
#include "VcardWriter.h"

namespace kindex {

namespace {

std::string lowered(const std::string &text) {
  NSString *s = nsString(text);
  return s ? utf8([s lowercaseString]) : text;
}

// Persons sorted by name (letter case aside), then by ID, so that every listing of one book
// comes out in the same order, local or remote.
std::vector<KXPerson *> sortedPeople(KXAddressBook *book) {
  NSArray *people = [book people];
  std::vector<std::pair<std::pair<std::string, std::string>, KXPerson *>> keyed;
  for (NSUInteger i = 0; i < [people count]; ++i) {
    KXPerson *person = [people objectAtIndex:i];
    keyed.push_back({{lowered(displayName(person)), utf8([person uniqueId])}, person});
  }
  std::sort(keyed.begin(), keyed.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<KXPerson *> out;
  for (const auto &entry : keyed) out.push_back(entry.second);
  return out;
}

std::string groupName(KXGroup *group) { return utf8([group valueForProperty:KXGroupNameProperty]); }

}  // namespace

int listPeople(KXAddressBook *book, const Emit &emit) {
  for (KXPerson *person : sortedPeople(book)) emit(personLine(person));
  return kExitOK;
}

int searchPeople(KXAddressBook *book, const std::string &text, const Emit &emit,
                 const Complain &complain) {
  NSString *search = nsString(text);
  if (search == nil) {
    complain("the search text is not valid UTF-8");
    return kExitUsage;
  }
  for (KXPerson *person : sortedPeople(book))
    if (personMatches(person, search)) emit(personLine(person));
  return kExitOK;
}

int listGroups(KXAddressBook *book, const Emit &emit) {
  NSArray *groups = [book groups];
  for (NSUInteger i = 0; i < [groups count]; ++i) emit(groupLine([groups objectAtIndex:i]));
  return kExitOK;
}

int showRecord(KXAddressBook *book, const std::string &uid, const Emit &emit,
               const Complain &complain) {
  NSString *key = nsString(uid);
  KXRecord *record = key ? [book recordForUniqueId:key] : nil;
  if (record == nil) {
    complain("no person or group has the ID " + uid);
    return kExitFailure;
  }
  if ([record isKindOfClass:[KXGroup class]]) {
    emit(groupDetails((KXGroup *)record));
  } else {
    emit(personDetails((KXPerson *)record, book));
  }
  return kExitOK;
}

int exportCards(KXAddressBook *book, const Emit &emit) {
  std::map<std::string, std::vector<std::string>> groupsOf;
  NSArray *groups = [book groups];
  for (NSUInteger i = 0; i < [groups count]; ++i) {
    KXGroup *group = [groups objectAtIndex:i];
    std::string name = groupName(group);
    if (name.empty()) continue;  // a category needs a name
    NSArray *members = [group members];
    for (NSUInteger k = 0; k < [members count]; ++k)
      groupsOf[utf8([[members objectAtIndex:k] uniqueId])].push_back(name);
  }
  for (KXPerson *person : sortedPeople(book))
    emit(vcard::writeCard(cardFromPerson(person, groupsOf[utf8([person uniqueId])])));
  return kExitOK;
}

int importCards(KXAddressBook *book, const std::string &source, const std::string &content,
                const Emit &emit, const Complain &complain) {
  vcard::ReadResult read = vcard::readCards(content);
  for (const vcard::ReadError &warning : read.warnings)
    complain(source + ":" + std::to_string(warning.line) + ": " + warning.message);
  // What the reader refused and the cards that name no one, reported in the order of the file.
  std::vector<vcard::ReadError> skipped = read.errors;
  std::vector<const vcard::Card *> cards;
  for (const vcard::Card &card : read.cards) {
    if (cardNamesAPerson(card)) {
      cards.push_back(&card);
    } else {
      skipped.push_back({card.line, "card has neither N nor FN"});
    }
  }
  std::stable_sort(skipped.begin(), skipped.end(),
                   [](const vcard::ReadError &a, const vcard::ReadError &b) { return a.line < b.line; });
  for (const vcard::ReadError &error : skipped)
    complain(source + ":" + std::to_string(error.line) + ": skipped a card: " + error.message);

  // Categories join groups of the same name that the book has already, or new ones.
  std::map<std::string, KXGroup *> groupsByName;
  NSArray *groups = [book groups];
  for (NSUInteger i = 0; i < [groups count]; ++i) {
    KXGroup *group = [groups objectAtIndex:i];
    std::string name = groupName(group);
    if (!name.empty() && groupsByName.count(name) == 0) groupsByName[name] = group;
  }
  int added = 0, newGroups = 0;
  for (const vcard::Card *card : cards) {
    KXPerson *person = newPersonFromCard(*card);
    [person autorelease];
    if (![book addRecord:person]) {
      complain(source + ":" + std::to_string(card->line) + ": the book refused the card");
      return kExitFailure;
    }
    ++added;
    for (const std::string &category : cardCategories(*card)) {
      KXGroup *&group = groupsByName[category];
      if (group == nil) {
        group = [[[KXGroup alloc] init] autorelease];
        [group setValue:nsString(category) forProperty:KXGroupNameProperty];
        if (![book addRecord:group]) {
          complain("the book refused the new group " + category);
          return kExitFailure;
        }
        ++newGroups;
      }
      [group addMember:person];
    }
  }
  NSError *failure = nil;
  if (added > 0 && ![book saveAndReturnError:&failure]) {
    complain("could not save the book (" + utf8([failure localizedDescription]) + "); nothing was imported");
    return kExitFailure;
  }
  emit("Imported " + std::to_string(added) + (added == 1 ? " person" : " persons") + " and " +
       std::to_string(newGroups) + (newGroups == 1 ? " new group" : " new groups") + " from " +
       source + "\n");
  return skipped.empty() ? kExitOK : kExitCardsSkipped;
}

}  // namespace kindex
