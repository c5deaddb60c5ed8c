// The fixture of the library's tests: a temporary directory, an autorelease pool per test,
// and short verbs for making books and records.
#pragma once

#import <Kindex/Kindex.h>
#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#import "KXPrivate.h"

// For messages and comparisons: the UTF-8 text of an NSString ("(nil)" for nil).
inline std::string S(id text) {
  if (text == nil) return "(nil)";
  return [[text description] UTF8String];
}

class BookTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = [NSAutoreleasePool new]; }
  void TearDown() override { [pool_ release]; }

  NSString *dir(const std::string &name) {
    return [NSString stringWithUTF8String:tmp_.makeDir(name).c_str()];
  }
  NSString *path(const std::string &name) { return [NSString stringWithUTF8String:tmp_.file(name).c_str()]; }
  static KXLocalAddressBook *open(NSString *location) {
    return [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  }
  KXLocalAddressBook *newBook(const std::string &name = "book") { return open(dir(name)); }
  static KXLocalAddressBook *reopen(KXLocalAddressBook *book) { return open([book location]); }

  static KXPerson *person(NSString *first, NSString *last, NSString *email) {
    KXPerson *p = [[KXPerson new] autorelease];
    if (first) [p setValue:first forProperty:KXFirstNameProperty];
    if (last) [p setValue:last forProperty:KXLastNameProperty];
    if (email) {
      KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] initWithMultiValue:nil] autorelease];
      [mails addValue:email withLabel:KXEmailWorkLabel];
      [p setValue:mails forProperty:KXEmailProperty];
    }
    return p;
  }
  static KXGroup *group(NSString *name) {
    KXGroup *g = [[KXGroup new] autorelease];
    [g setValue:name forProperty:KXGroupNameProperty];
    return g;
  }
  static NSArray *uids(NSArray *records) {
    NSMutableArray *ids = [NSMutableArray array];
    for (NSUInteger i = 0; i < [records count]; i++) [ids addObject:[[records objectAtIndex:i] uniqueId]];
    return ids;
  }

  kxtest::TempDir tmp_{"kindex-book"};
  NSAutoreleasePool *pool_ = nil;
};
