// The rule that turns the mail client's one-string name into a first and a last name. A
// wrong row here gives every converted person a scrambled name, silently.
#include <gtest/gtest.h>
#include <string>
#include "NameSplit.h"

namespace {

using bookconvert::NameRule;
using bookconvert::splitWholeName;

struct Case {
  std::string name;
  NameRule rule;
  std::string first;
  std::string last;
};

// Names as UTF-8 bytes; the converter splits UTF-16 units the same way (see PersonNamesTest).
// clang-format off
const Case cases[] = {
  // The rule's own examples.
  {"Alpha Beta", NameRule::FirstThenLast, "Alpha", "Beta"},
  {"Alpha Gamma Delta Beta", NameRule::FirstThenLast, "Alpha Gamma Delta", "Beta"},
  {"Omega", NameRule::LastNameOnly, "", "Omega"},
  {"Beta, Alpha", NameRule::FirstThenLast, " Alpha", "Beta"},
  {"Beta,Alpha", NameRule::FirstThenLast, "Alpha", "Beta"},
  {"Beta, Alpha Gamma", NameRule::FirstThenLast, " Alpha Gamma", "Beta"},
  {"a,b,c", NameRule::FirstThenLast, "b", "a"},
  {"Alpha  Beta", NameRule::FirstThenLast, "Alpha ", "Beta"},
  {"Alpha ", NameRule::FirstThenLast, "Alpha", ""},
  {" Beta", NameRule::FirstThenLast, "", "Beta"},
  {",", NameRule::FirstThenLast, "", ""},
  {"", NameRule::UseEmailAddress, "", ""},
  // Empty parts count, nothing is trimmed, and only the comma and U+0020 separate.
  {"Beta,", NameRule::FirstThenLast, "", "Beta"},
  {",Alpha", NameRule::FirstThenLast, "Alpha", ""},
  {"a,,c", NameRule::FirstThenLast, "", "a"},
  {"   ", NameRule::FirstThenLast, "  ", ""},
  {"Alpha\tBeta", NameRule::LastNameOnly, "", "Alpha\tBeta"},
  {"Alpha\nBeta", NameRule::LastNameOnly, "", "Alpha\nBeta"},
  // Non-ASCII names: multi-byte characters are never cut, and look-alike separators
  // (no-break space, ideographic space, full-width comma) don't separate.
  {"Zoë Ångström", NameRule::FirstThenLast, "Zoë", "Ångström"},
  {"Müller, Jürgen", NameRule::FirstThenLast, " Jürgen", "Müller"},
  {"José María García", NameRule::FirstThenLast, "José María", "García"},
  {"Ана\u00a0Лима", NameRule::LastNameOnly, "", "Ана\u00a0Лима"},
  {"李\u3000小龍", NameRule::LastNameOnly, "", "李\u3000小龍"},
  {"李，小龍", NameRule::LastNameOnly, "", "李，小龍"},
  {"李 小龍", NameRule::FirstThenLast, "李", "小龍"},
  {"😀 Smile", NameRule::FirstThenLast, "😀", "Smile"},
};
// clang-format on

TEST(NameSplit, EveryRowAndExample) {
  for (const Case &c : cases) {
    auto split = splitWholeName(c.name);
    EXPECT_EQ(split.rule, c.rule) << "name '" << c.name << "'";
    EXPECT_EQ(split.first, c.first) << "name '" << c.name << "'";
    EXPECT_EQ(split.last, c.last) << "name '" << c.name << "'";
  }
}

}  // namespace
