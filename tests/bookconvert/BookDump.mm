#import "BookDump.h"
#import <Kindex/Kindex.h>
#include <algorithm>

namespace convert_test {
namespace {

std::string textOf(id value) {
  if (value == nil) return "~";
  return [[value description] UTF8String];
}

std::string Emails(KXRecord *person) {
  KXMultiValue *emails = [person valueForProperty:KXEmailProperty];
  if (emails == nil) return "<~>";
  std::string text = "<";
  for (NSUInteger i = 0; i < [emails count]; i++) {
    NSString *label = [emails labelAtIndex:i];
    if (i > 0) text += ", ";
    text += [label isEqualToString:KXEmailWorkLabel] ? "work" : textOf(label);
    text += ":" + textOf([emails valueAtIndex:i]);
  }
  return text + ">";
}

std::string names(KXRecord *person) {
  return textOf([person valueForProperty:KXFirstNameProperty]) + " / " +
         textOf([person valueForProperty:KXLastNameProperty]);
}

std::string Member(KXRecord *record) {
  if ([record isKindOfClass:[KXGroup class]])
    return "G " + textOf([record valueForProperty:KXGroupNameProperty]);
  return names(record);
}

}  // namespace

std::vector<std::string> dumpBook(const std::string &location) {
  std::vector<std::string> lines;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  KXLocalAddressBook *book =
      [[KXLocalAddressBook alloc] initWithLocation:[NSString stringWithUTF8String:location.c_str()]];
  if (book == nil) {
    [pool release];
    return {"no book"};
  }
  NSArray *groups = [book groups];
  for (NSUInteger g = 0; g < [groups count]; g++) {
    KXGroup *group = [groups objectAtIndex:g];
    std::string line = "G " + textOf([group valueForProperty:KXGroupNameProperty]) + " [";
    NSArray *members = [group members];
    for (NSUInteger m = 0; m < [members count]; m++)
      line += (m > 0 ? ", " : "") + Member([members objectAtIndex:m]);
    lines.push_back(line + "]");
  }
  NSArray *people = [book people];
  for (NSUInteger p = 0; p < [people count]; p++) {
    KXPerson *person = [people objectAtIndex:p];
    lines.push_back("P " + names(person) + " " + Emails(person));
  }
  [book release];
  [pool release];
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace convert_test
