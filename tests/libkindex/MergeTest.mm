// The merge decides what every save writes when others saved in between, so it is tested on
// its own, case by case: a multi-value merged entry by entry from what the editor saw (base),
// what it has now (ours) and what the store holds (saved); a record's properties; a group's
// members.
#include "BookTest.h"
#import "book/Merge.h"

namespace {

// A multi-value from a short text: entries "id=value" or "id:label=value" separated by
// spaces, "*id" the primary; "-" is nil and "" an empty multi-value. "id!T=value" gives the
// entry the attribute TYPE=T.
KXMultiValue *mv(const char *text) {
  if (std::string(text) == "-") return nil;
  NSString *primary = nil;
  NSArray *words = [[NSString stringWithUTF8String:text] componentsSeparatedByString:@" "];
  KXEntryList *entries = KXEntryList::make([words count]);
  for (NSUInteger i = 0; i < [words count]; i++) {
    NSString *word = [words objectAtIndex:i];
    if ([word length] == 0) continue;
    if ([word hasPrefix:@"*"]) {
      primary = [word substringFromIndex:1];
      continue;
    }
    NSRange equals = [word rangeOfString:@"="];
    NSString *head = [word substringToIndex:equals.location];
    NSString *value = [word substringFromIndex:NSMaxRange(equals)];
    NSDictionary *attributes = nil;
    NSRange bang = [head rangeOfString:@"!"];
    if (bang.location != NSNotFound) {
      attributes = [[NSDictionary alloc]
          initWithObjectsAndKeys:[head substringFromIndex:NSMaxRange(bang)], @"TYPE", nil];
      head = [head substringToIndex:bang.location];
    }
    NSRange colon = [head rangeOfString:@":"];
    NSString *identifier = colon.location == NSNotFound ? head : [head substringToIndex:colon.location];
    NSString *label = colon.location == NSNotFound ? nil : [head substringFromIndex:NSMaxRange(colon)];
    KXEntryList::insert(entries, entries->count, {[identifier copy], [label copy], [value copy], attributes});
  }
  return [[[KXMultiValue alloc] _initAdoptingEntries:entries primary:primary] autorelease];
}

// The same notation back, the primary always written.
std::string text(id value) {
  if (value == nil) return "-";
  if (![value isKindOfClass:[KXMultiValue class]]) return S(value);
  KXMultiValue *multi = value;
  std::string out;
  for (NSUInteger i = 0; i < [multi count]; i++) {
    out += S([multi identifierAtIndex:i]);
    if ([multi labelAtIndex:i] != nil) out += ":" + S([multi labelAtIndex:i]);
    if ([multi attributesAtIndex:i] != nil)
      out += "!" + S([[multi attributesAtIndex:i] objectForKey:@"TYPE"]);
    out += "=" + S([multi valueAtIndex:i]) + " ";
  }
  return [multi count] > 0 ? out + "*" + S([multi primaryIdentifier]) : "";
}

}  // namespace

class MergeTest : public BookTest {};

TEST_F(MergeTest, MultiValuesMergeEntryByEntry) {
  struct Row {
    const char *what, *base, *ours, *saved, *merged;
  };
  // clang-format off
  const Row rows[] = {
    {"the editor changed nothing",           "a=x",         "a=x",           "a=x b=y",       "a=x b=y *a"},
    {"nobody else changed it: ours, in our order", "a=x b=y", "b=y a=z *b", "a=x b=y",         "b=y a=z *b"},
    {"both added an entry",                  "a=x",         "a=x b=y",       "a=x c=z",       "a=x c=z b=y *a"},
    {"both changed one entry: ours",         "a=x",         "a=o",           "a=t",           "a=o *a"},
    {"each changed another entry",           "a=x b=y",     "a=o b=y",       "a=x b=t",       "a=o b=t *a"},
    {"a label is a change",                  "a:w=x",       "a:h=x",         "a:w=x b=y",     "a:h=x b=y *a"},
    {"an attribute is a change",             "a!HOME=x",    "a!WORK=x",      "a!HOME=x b=y",  "a!WORK=x b=y *a"},
    {"saved's attribute, the editor unchanged", "a=x b=y",  "a=x b=y c=z",   "a!CELL=x b=y",  "a!CELL=x b=y c=z *a"},
    {"the editor removed what saved changed", "a=x b=y",    "b=y",           "a=t b=y",       "b=y *b"},
    {"the editor removed one, saved changed another", "a=x b=y", "b=y",      "a=x b=t",       "b=t *b"},
    {"saved removed one the editor kept",    "a=x b=y",     "a=x b=y c=z",   "b=y",           "b=y c=z *b"},
    {"saved removed one the editor changed", "a=x b=y",     "a=o b=y",       "b=y",           "b=y a=o *b"},
    {"the editor moved the primary",         "a=x b=y *a",  "a=x b=y *b",    "a=x b=y c=z *a", "a=x b=y c=z *b"},
    {"both moved the primary: ours",         "a=x b=y c=z *a", "a=x b=y c=z *b", "a=x b=y c=z *c", "a=x b=y c=z *b"},
    {"saved moved the primary",              "a=x b=y *a",  "a=x b=y c=z *a", "a=x b=y *b",   "a=x b=y c=z *b"},
    {"our primary is gone: saved's",         "a=x b=y *a",  "a=x b=y *b",    "a=x *a",        "a=x *a"},
    {"the editor added the property",        "-",           "b=y",           "a=x",           "a=x b=y *b"},
    {"the editor removed the property",      "a=x",         "-",             "a=x",           "-"},
    {"... and saved added an entry",         "a=x",         "-",             "a=x b=y",       "b=y *b"},
    {"saved removed the property, the editor added an entry", "a=x", "a=x b=y", "-",          "b=y *b"},
    {"both removed it",                      "a=x",         "-",             "-",             "-"},
    {"the editor emptied it",                "a=x",         "",              "a=t",           ""},
  };
  // clang-format on
  for (const Row &row : rows) {
    EXPECT_EQ(row.merged, text(kx::mergeMultiValue(mv(row.base), mv(row.ours), mv(row.saved)))) << row.what;
    EXPECT_EQ(row.merged, text(kx::mergeValue(mv(row.base), mv(row.ours), mv(row.saved)))) << row.what;
  }
}

TEST_F(MergeTest, StringsGoToTheEditorOnlyWhereItChangedThem) {
  struct Row {
    NSString *base, *ours, *saved, *merged;
  };
  const Row rows[] = {
      {@"x", @"x", @"y", @"y"}, {@"x", @"z", @"y", @"z"}, {@"x", nil, @"y", nil},
      {nil, @"z", nil, @"z"},   {@"x", nil, @"x", nil},   {nil, nil, @"y", @"y"},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(S(row.merged), S(kx::mergeValue(row.base, row.ours, row.saved)))
        << S(row.base) << " " << S(row.ours) << " " << S(row.saved);
  }
  // A string where the others are multi-values is not merged entry by entry.
  EXPECT_EQ("s", text(kx::mergeValue(nil, @"s", mv("a=x"))));
  EXPECT_EQ("a=x *a", text(kx::mergeValue(@"s", @"s", mv("a=x"))));
}

TEST_F(MergeTest, ARecordMergesByProperty) {
  KXValueList *saved = KXValueList::make(4);
  KXValueList::set(saved, KXFirstNameProperty, @"Ann");
  KXValueList::set(saved, KXOrganizationProperty, @"Theirs Ltd");
  KXValueList::set(saved, KXEmailProperty, mv("a=ann@x b=ann@y"));
  KXValueList *ours = KXValueList::make(4);
  KXValueList::set(ours, KXFirstNameProperty, @"Anna");
  KXValueList::set(ours, KXNoteProperty, @"set back");
  KXValueList::set(ours, KXEmailProperty, mv("a=ann@x c=ann@z"));

  kx::RecordChange change(KXRecordKindPerson);
  change.noteDirty(KXFirstNameProperty, @"Ann");
  change.noteDirty(KXFirstNameProperty, @"Anna");  // only the first base counts
  change.noteDirty(KXNoteProperty, @"set back");
  change.noteDirty(KXLastNameProperty, @"Lee");  // removed by the editor
  change.noteDirty(KXEmailProperty, mv("a=ann@x"));
  KXValueList *merged = kx::mergedValues(change, *ours, saved);
  EXPECT_EQ("Anna", S(merged->get(KXFirstNameProperty)));
  EXPECT_EQ("Theirs Ltd", S(merged->get(KXOrganizationProperty)));
  EXPECT_EQ("-", text(merged->get(KXNoteProperty)));
  EXPECT_EQ("-", text(merged->get(KXLastNameProperty)));
  EXPECT_EQ("a=ann@x b=ann@y c=ann@z *a", text(merged->get(KXEmailProperty)));
  KXValueList::destroy(merged);

  // Made by two editors: ours where the editor set a value, saved's elsewhere.
  kx::RecordChange added(KXRecordKindPerson);
  added.added = true;
  merged = kx::mergedValues(added, *ours, saved);
  EXPECT_EQ("Anna", S(merged->get(KXFirstNameProperty)));
  EXPECT_EQ("Theirs Ltd", S(merged->get(KXOrganizationProperty)));
  EXPECT_EQ("set back", S(merged->get(KXNoteProperty)));
  EXPECT_EQ("a=ann@x b=ann@y c=ann@z *a", text(merged->get(KXEmailProperty)));
  KXValueList::destroy(merged);
  merged = kx::mergedValues(added, *ours, nullptr);
  EXPECT_EQ(3u, merged->count);
  KXValueList::destroy(merged);

  KXValueList::destroy(saved);
  KXValueList::destroy(ours);
}

TEST_F(MergeTest, MembersMergeByMember) {
  kx::RecordChange change(KXRecordKindGroup);
  change.addMember(@"c");
  change.addMember(@"d");
  change.removeMember(@"a");
  change.removeMember(@"d");  // the last operation on a member wins
  change.addMember(@"b");     // already there: not twice
  NSArray *saved = [NSArray arrayWithObjects:@"a", @"b", @"e", nil];
  EXPECT_EQ("b, e, c", S([kx::mergedMembers(change, saved) componentsJoinedByString:@", "]));
  EXPECT_EQ("c, b", S([kx::mergedMembers(change, nil) componentsJoinedByString:@", "]));
}
