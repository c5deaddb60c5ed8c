// Runs the real kindex (and bookd) from the build tree on books in a temporary directory, and
// reads the books back through the library to see what the programs really stored.
#pragma once

#import <Kindex/Kindex.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LoopbackPort.h"
#include "TempDir.h"

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// What the tests compare of a person: the things a vCard carries for it.
struct PersonFacts {
  std::vector<std::pair<std::string, std::string>> emails;     // value, label
  std::vector<std::pair<std::string, std::string>> addresses;  // "street|city|...", label
  std::string primaryEmail;
  std::set<std::string> groups;
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_ = [NSAutoreleasePool new]; }
  void TearDown() override { [pool_ release]; }

  // env: "NAME=value" entries set for kindex (EDITOR, say).
  ToolRun kindex(const std::vector<std::string> &args, const std::vector<std::string> &env = {});
  std::string write(const std::string &name, const std::string &content);

  NSString *dir(const std::string &name);
  static KXLocalAddressBook *open(NSString *location);
  // A person with names and e-mails (value, label); the first e-mail listed in `primary` (an
  // index) is made the preferred one when it is not 0.
  static KXPerson *person(NSString *first, NSString *last,
                          const std::vector<std::pair<NSString *, NSString *>> &emails, size_t primary = 0);
  static KXGroup *group(KXAddressBook *book, NSString *name, NSArray *members);

  // "first|last" -> facts, for every person of the book.
  static std::map<std::string, PersonFacts> facts(KXAddressBook *book);

  kxtest::TempDir tmp_{"kindex-tool"};
  NSAutoreleasePool *pool_ = nil;
};
