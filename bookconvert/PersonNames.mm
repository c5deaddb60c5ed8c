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

NSString *Text(const std::u16string &units)
{
  return [NSString stringWithCharacters: reinterpret_cast<const unichar *>(units.data())
                                 length: units.size()];
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
