#import "ToolFixture.h"

#include <fstream>

namespace {

std::string text(id value) {
  return [value isKindOfClass:[NSString class]] ? std::string([value UTF8String]) : std::string();
}

}  // namespace

ToolRun ToolTest::kindex(const std::vector<std::string> &args, const std::vector<std::string> &env) {
  kxtest::ChildProcess child;
  std::vector<std::string> argv = {"kindex"};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun run;
  if (!child.start(KINDEX_PATH, argv, env)) return run;
  if (!child.waitForExit(60)) {
    ADD_FAILURE() << "kindex did not end within 60 s";
    child.kill();
  }
  run.status = child.status();
  run.out = child.output();
  run.err = child.error();
  return run;
}

std::string ToolTest::write(const std::string &name, const std::string &content) {
  std::string path = tmp_.file(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

NSString *ToolTest::dir(const std::string &name) {
  return [NSString stringWithUTF8String:tmp_.makeDir(name).c_str()];
}

KXLocalAddressBook *ToolTest::open(NSString *location) {
  return [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
}

KXPerson *ToolTest::person(NSString *first, NSString *last,
                           const std::vector<std::pair<NSString *, NSString *>> &emails, size_t primary) {
  KXPerson *p = [[KXPerson new] autorelease];
  if (first) [p setValue:first forProperty:KXFirstNameProperty];
  if (last) [p setValue:last forProperty:KXLastNameProperty];
  if (!emails.empty()) {
    KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] init] autorelease];
    NSString *preferred = nil;
    for (size_t i = 0; i < emails.size(); ++i) {
      NSString *identifier = [mails addValue:emails[i].first withLabel:emails[i].second];
      if (i == primary) preferred = identifier;
    }
    if (primary != 0) [mails setPrimaryIdentifier:preferred];
    [p setValue:mails forProperty:KXEmailProperty];
  }
  return p;
}

KXGroup *ToolTest::group(KXAddressBook *book, NSString *name, NSArray *members) {
  KXGroup *g = [[KXGroup new] autorelease];
  [g setValue:name forProperty:KXGroupNameProperty];
  [book addRecord:g];
  for (NSUInteger i = 0; i < [members count]; ++i) [g addMember:[members objectAtIndex:i]];
  return g;
}

std::map<std::string, PersonFacts> ToolTest::facts(KXAddressBook *book) {
  std::map<std::string, PersonFacts> out;
  NSArray *people = [book people];
  NSArray *groups = [book groups];
  for (NSUInteger i = 0; i < [people count]; ++i) {
    KXPerson *p = [people objectAtIndex:i];
    std::string key =
        text([p valueForProperty:KXFirstNameProperty]) + "|" + text([p valueForProperty:KXLastNameProperty]);
    EXPECT_EQ(out.count(key), 0u) << "two persons named " << key;
    PersonFacts &f = out[key];
    KXMultiValue *mails = [p valueForProperty:KXEmailProperty];
    for (NSUInteger k = 0; k < [mails count]; ++k)
      f.emails.push_back({text([mails valueAtIndex:k]), text([mails labelAtIndex:k])});
    KXMultiValue *places = [p valueForProperty:KXAddressProperty];
    for (NSUInteger k = 0; k < [places count]; ++k) {
      NSDictionary *place = [places valueAtIndex:k];
      std::string joined;
      for (NSString *key :
           {KXAddressStreetKey, KXAddressCityKey, KXAddressStateKey, KXAddressZIPKey, KXAddressCountryKey})
        joined += text([place objectForKey:key]) + "|";
      f.addresses.push_back({joined, text([places labelAtIndex:k])});
    }
    if ([mails count] > 0)
      f.primaryEmail = text([mails valueAtIndex:[mails indexForIdentifier:[mails primaryIdentifier]]]);
    for (NSUInteger g = 0; g < [groups count]; ++g) {
      KXGroup *group = [groups objectAtIndex:g];
      NSArray *members = [group members];
      for (NSUInteger m = 0; m < [members count]; ++m)
        if ([[[members objectAtIndex:m] uniqueId] isEqual:[p uniqueId]])
          f.groups.insert(text([group valueForProperty:KXGroupNameProperty]));
    }
  }
  return out;
}
