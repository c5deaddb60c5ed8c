#import "Conversion.h"
#import <Kindex/Kindex.h>
#import "ArchiveReader.h"
#import "ArchivedClasses.h"
#include "NameSplit.h"

Conversion::Conversion(KXAddressBook *book) : book_([book retain]) {}

Conversion::~Conversion() {
  [book_ release];
}

void Conversion::convertRoot(id root) {
  if ([root isKindOfClass:[AddressBook class]]) {
    [(AddressBook *)root addToAddressBook:*this];
    return;
  }
  if ([root isKindOfClass:[Group class]])
    [(Group *)root addToAddressBook:*this];
  else
    [(Address *)root addToAddressBook:*this];
  save();
}

KXRecord *Conversion::convertElement(id element) {
  if ([element isKindOfClass:[Group class]]) return [(Group *)element addToAddressBook:*this];
  if ([element isKindOfClass:[Address class]]) return [(Address *)element addToAddressBook:*this];

  std::string kind = classKindOf(element);
  for (auto &entry : skipped_) {
    if (entry.first == kind) {
      entry.second++;
      return nil;
    }
  }
  skipped_.emplace_back(kind, 1);
  return nil;
}

void Conversion::addGroup(KXGroup *group) {
  [book_ addRecord:group];
  groupsConverted_++;
}

void Conversion::addPerson(KXPerson *person) {
  [book_ addRecord:person];
  peopleConverted_++;
}

bool Conversion::save() {
  NSError *error = nil;
  bool saved = book_ != nil && [book_ saveAndReturnError:&error];
  if (!saved) {
    saveFailed_ = true;
    if (error != nil) saveFailure_ = [[error localizedDescription] UTF8String];
  }
  return saved;
}

void Conversion::reportSkippedElements(FILE *stream, const char *path) const {
  for (const auto &entry : skipped_)
    fprintf(stream, "Warning: '%s': skipped %ld element%s of class %s\n", path, entry.second,
            entry.second == 1 ? "" : "s", entry.first.c_str());
}

namespace {

// UTF-16 units both ways, so that no character, however unusual, is lost on the way.
std::u16string unitsOf(NSString *text) {
  std::u16string units([text length], u'\0');
  if (!units.empty())
    [text getCharacters:reinterpret_cast<unichar *>(&units[0]) range:NSMakeRange(0, units.size())];
  return units;
}

NSString *stringOfUnits(const std::u16string &units) {
  return [NSString stringWithCharacters:reinterpret_cast<const unichar *>(units.data()) length:units.size()];
}

}  // namespace

void setPersonNames(KXPerson *person, NSString *name, NSString *emailAddress) {
  using bookconvert::NameRule;
  auto split = bookconvert::splitWholeName(unitsOf(name));
  switch (split.rule) {
    case NameRule::UseEmailAddress:
      [person setValue:@"UNKNOWN" forProperty:KXLastNameProperty];
      [person setValue:emailAddress forProperty:KXFirstNameProperty];
      break;
    case NameRule::LastNameOnly:
      [person setValue:stringOfUnits(split.last) forProperty:KXLastNameProperty];
      break;
    case NameRule::FirstThenLast:
      [person setValue:stringOfUnits(split.first) forProperty:KXFirstNameProperty];
      [person setValue:stringOfUnits(split.last) forProperty:KXLastNameProperty];
      break;
  }
}
