// Names reach a person as the rule's row says, in the row's order, and non-ASCII text
// arrives whole: the archive's UTF-8 is Unicode in NSString, and characters outside the
// Basic Multilingual Plane are two UTF-16 units that must never be cut apart.
#include <gtest/gtest.h>
#import <Kindex/Kindex.h>
#include <string>
#include <vector>
#import "Conversion.h"

// A person that notes every value set on it, in order.
@interface RecordingPerson : KXPerson {
 @public
  std::vector<std::string> *calls;
}
@end

@implementation RecordingPerson
- (BOOL)setValue:(id)value forProperty:(NSString *)property {
  std::string key = [property isEqualToString:KXFirstNameProperty]  ? "first"
                    : [property isEqualToString:KXLastNameProperty] ? "last"
                                                                    : [property UTF8String];
  calls->push_back(key + "=" + (value == nil ? "~" : [[value description] UTF8String]));
  return [super setValue:value forProperty:property];
}
@end

namespace {

NSString *utf8(const char *text) {
  return text == nullptr ? nil : [NSString stringWithUTF8String:text];
}

struct Case {
  const char *name;   // nullptr: absent
  const char *email;  // nullptr: absent
  std::vector<std::string> calls;
};

// clang-format off
const Case cases[] = {
  {"Alpha Beta", "a@example.org", {"first=Alpha", "last=Beta"}},
  {"Beta, Alpha", "a@example.org", {"first= Alpha", "last=Beta"}},
  {"Omega", "o@example.org", {"last=Omega"}},
  {"", "nobody@example.org", {"last=UNKNOWN", "first=nobody@example.org"}},
  {nullptr, "absent@example.org", {"last=UNKNOWN", "first=absent@example.org"}},
  {nullptr, nullptr, {"last=UNKNOWN", "first=~"}},
  {"Zoë Ångström", "z@example.org", {"first=Zoë", "last=Ångström"}},
  {"Müller,Jürgen", "j@example.org", {"first=Jürgen", "last=Müller"}},
  {"𝔄𝔩𝔭𝔥𝔞 𝔅𝔢𝔱𝔞", "g@example.org", {"first=𝔄𝔩𝔭𝔥𝔞", "last=𝔅𝔢𝔱𝔞"}},
  {"😀,😎", "e@example.org", {"first=😎", "last=😀"}},
  {"李\u3000小龍", "l@example.org", {"last=李\u3000小龍"}},
};
// clang-format on

TEST(PersonNames, SetInTheRowsOrderWithUnicodeIntact) {
  for (const Case &c : cases) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    std::vector<std::string> calls;
    RecordingPerson *person = [[RecordingPerson alloc] init];
    person->calls = &calls;
    setPersonNames(person, utf8(c.name), utf8(c.email));
    EXPECT_EQ(calls, c.calls) << "name '" << (c.name ? c.name : "(absent)") << "'";
    [person release];
    [pool release];
  }
}

}  // namespace
