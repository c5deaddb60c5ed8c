#import "PersonNames.h"
#import <Kindex/Kindex.h>
#include <string>
#include "NameSplit.h"

namespace {

// UTF-16 units both ways, so that no character, however unusual, is lost on the way.
std::u16string Units(NSString *text)
{
  std::u16string units([text length], u'\0');
  if (!units.empty())
    [text getCharacters: reinterpret_cast<unichar *>(&units[0]) range: NSMakeRange(0, units.size())];
  return units;
}

// Names are nearly always ASCII: a string of one byte a character then takes half the
// memory, which counts in a book of 100,000 persons.
NSString *Text(const std::u16string &units)
{
  bool ascii = true;
  for (char16_t unit : units) ascii = ascii && unit < 0x80;
  if (!ascii)
    return [NSString stringWithCharacters: reinterpret_cast<const unichar *>(units.data())
                                   length: units.size()];
  std::string bytes(units.begin(), units.end());
  return [[[NSString alloc] initWithBytes: bytes.data() length: bytes.size()
                                 encoding: NSASCIIStringEncoding] autorelease];
}

}  // namespace

void SetPersonNames(KXPerson *person, NSString *name, NSString *emailAddress)
{
  using bookconvert::NameRule;
  auto split = bookconvert::SplitWholeName(Units(name));
  switch (split.rule)
    {
      case NameRule::UseEmailAddress:
        [person setValue: @"UNKNOWN" forProperty: KXLastNameProperty];
        [person setValue: emailAddress forProperty: KXFirstNameProperty];
        break;
      case NameRule::LastNameOnly:
        [person setValue: Text(split.last) forProperty: KXLastNameProperty];
        break;
      case NameRule::FirstThenLast:
        [person setValue: Text(split.first) forProperty: KXFirstNameProperty];
        [person setValue: Text(split.last) forProperty: KXLastNameProperty];
        break;
    }
}
