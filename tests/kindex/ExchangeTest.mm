// A book exported to vCard and imported into an empty book must come back with the same
// persons, names, e-mails, labels and groups; a bad card in a file must cost that card only.
#import "ToolFixture.h"

#include <sys/stat.h>

extern std::string kindexTestLibrary;

namespace {

NSString *ns(const char *utf8) {
  return [NSString stringWithUTF8String:utf8];
}

}  // namespace

TEST_F(ToolTest, ExportThenImportGivesTheSameBook) {
  KXLocalAddressBook *book = open(dir("original"));
  ASSERT_NE(book, nil);
  KXPerson *ada = person(@"Ada", @"Lovelace",
                         {{@"ada@example.org", KXEmailWorkLabel}, {@"ada@home.example", KXEmailHomeLabel}});
  // Non-ASCII everywhere, a label of the user's own with a comma, the second e-mail preferred.
  KXPerson *zoe = person(
      ns("Zoë"), ns("Ørsted-Øhlenschläger"),
      {{ns("zoë@münchen.example"), ns("Ferienhaus, am See")}, {@"zoe@example.dk", KXEmailOtherLabel}}, 1);
  // What the converter makes of an entry without a name.
  KXPerson *unknown = person(@"x@example.net", @"UNKNOWN", {{@"x@example.net", KXEmailWorkLabel}});
  // A name far past one line's 75 octets, in letters of two and three octets.
  NSMutableString *longName = [NSMutableString string];
  for (int i = 0; i < 30; ++i) [longName appendString:ns("Ĳsbrand日")];
  KXPerson *lengthy = person(longName, @"Long; with, separators\\", {});
  KXPerson *loner = person(nil, @"Omega", {{@"omega@example.org", KXEmailWorkLabel}});
  KXMutableMultiValue *places = [[[KXMutableMultiValue alloc] init] autorelease];
  [places addValue:[NSDictionary dictionaryWithObjectsAndKeys:@"12 St James's Square", KXAddressStreetKey,
                                                              @"London", KXAddressCityKey, @"SW1Y 4JH",
                                                              KXAddressZIPKey, nil]
         withLabel:KXAddressHomeLabel];
  [places addValue:[NSDictionary dictionaryWithObjectsAndKeys:ns("Rue de l'Église; 3"), KXAddressStreetKey,
                                                              ns("Zürich"), KXAddressCityKey, @"ZH",
                                                              KXAddressStateKey, ns("Schweiz"),
                                                              KXAddressCountryKey, nil]
         withLabel:KXAddressWorkLabel];
  [ada setValue:places forProperty:KXAddressProperty];
  NSArray *all = [NSArray arrayWithObjects:ada, zoe, unknown, lengthy, loner, nil];
  for (NSUInteger i = 0; i < [all count]; ++i) ASSERT_TRUE([book addRecord:[all objectAtIndex:i]]);
  group(book, @"Friends", [NSArray arrayWithObjects:ada, zoe, nil]);
  group(book, ns("Mathématiciens; anciens, célèbres"), [NSArray arrayWithObjects:ada, lengthy, nil]);
  group(book, @"Imported", [NSArray arrayWithObject:unknown]);
  ASSERT_TRUE([book save]);

  ToolRun exported = kindex({"--book", tmp_.file("original"), "export"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.err, "");
  std::string vcf = write("book.vcf", exported.out);

  dir("copy");
  ToolRun imported = kindex({"--book", tmp_.file("copy"), "import", vcf});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "Imported 5 persons and 3 new groups from " + vcf + "\n");

  std::map<std::string, PersonFacts> before = facts(book);
  std::map<std::string, PersonFacts> after =
      facts(open([NSString stringWithUTF8String:tmp_.file("copy").c_str()]));
  ASSERT_EQ(before.size(), 5u);
  ASSERT_EQ(after.size(), before.size());
  for (const auto &entry : before) {
    ASSERT_EQ(after.count(entry.first), 1u) << "missing after import: " << entry.first;
    const PersonFacts &a = entry.second, &b = after[entry.first];
    EXPECT_EQ(b.emails, a.emails) << entry.first;
    EXPECT_EQ(b.addresses, a.addresses) << entry.first;
    EXPECT_EQ(b.primaryEmail, a.primaryEmail) << entry.first;
    EXPECT_EQ(b.groups, a.groups) << entry.first;
  }

  // Every physical line within 75 octets and whole UTF-8: the text is what another program reads.
  size_t pos = 0;
  while (pos < exported.out.size()) {
    size_t end = exported.out.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF at octet " << pos;
    EXPECT_LE(end - pos, 75u) << exported.out.substr(pos, end - pos);
    pos = end + 2;
  }
  EXPECT_NE(exported.out.find(ns("Zoë").UTF8String), std::string::npos);
}

TEST_F(ToolTest, ImportSkipsMalformedCardsAndKeepsTheRest) {
  std::string vcf = write("mixed.vcf",
                          "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Good;First\r\nEMAIL;TYPE=WORK:a@x\r\n"
                          "CATEGORIES:Team\r\nEND:VCARD\r\n"                         // lines 1-6
                          "BEGIN:VCARD\r\nN:Broken;B\r\nEMAIL b@x\r\nEND:VCARD\r\n"  // 7-10
                          "BEGIN:VCARD\r\nVERSION:2.1\r\n"  // 11-14: phones write 2.1
                          "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=96ld;C\r\nEND:VCARD\r\n"
                          "BEGIN:VCARD\r\nN:Good;Second\r\nCATEGORIES:Team\r\nEND:VCARD\r\n"  // 15-18
                          "BEGIN:VCARD\r\nVERSION:5.0\r\nN:Future;E\r\nEND:VCARD\r\n"         // 19-22
                          "BEGIN:VCARD\r\nEMAIL:nobody@x\r\nEND:VCARD\r\n"                    // 23-25
                          "BEGIN:VCARD\r\nN:Unended;D\r\n");                                  // 26-27
  dir("book");
  ToolRun run = kindex({"--book", tmp_.file("book"), "import", vcf});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "kindex: " + vcf +
                         ":9: skipped a card: no colon in the line\n"
                         "kindex: " +
                         vcf +
                         ":20: skipped a card: unsupported vCard version 5.0\n"
                         "kindex: " +
                         vcf +
                         ":23: skipped a card: card has neither N nor FN\n"
                         "kindex: " +
                         vcf +
                         ":26: skipped a card: card has no END:VCARD\n"
                         "kindex: " +
                         vcf +
                         ": 3 cards have no UID and got a new one; importing them again adds "
                         "them again\n");
  EXPECT_EQ(run.out, "Imported 3 persons and 1 new group from " + vcf + "\n");

  std::map<std::string, PersonFacts> got =
      facts(open([NSString stringWithUTF8String:tmp_.file("book").c_str()]));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got["First|Good"].groups, std::set<std::string>{"Team"});
  EXPECT_EQ(got["Second|Good"].groups, std::set<std::string>{"Team"});
  EXPECT_EQ(got.count(ns("C|Öld").UTF8String), 1u);
  EXPECT_EQ(got["First|Good"].emails,
            (std::vector<std::pair<std::string, std::string>>{{"a@x", [KXEmailWorkLabel UTF8String]}}));
}

TEST_F(ToolTest, ImportOfAFileWithoutGoodCardsChangesNothing) {
  struct Row {
    const char *name, *content;
    int status;
  } rows[] = {
      {"only malformed", "BEGIN:VCARD\nN:A\nX\nEND:VCARD\n", 3},
      {"empty", "", 0},
  };
  for (const Row &row : rows) {
    std::string book = tmp_.makeDir(std::string("book-") + (row.status ? "bad" : "empty"));
    ToolRun run = kindex({"--book", book, "import", write("f.vcf", row.content)});
    EXPECT_EQ(run.status, row.status) << row.name << ": " << run.err;
    EXPECT_EQ([[open([NSString stringWithUTF8String:book.c_str()]) people] count], 0u) << row.name;
  }
  ToolRun missing = kindex({"--book", tmp_.makeDir("b"), "import", tmp_.file("nope.vcf")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "kindex: cannot read " + tmp_.file("nope.vcf") + ": No such file or directory\n");
}

TEST_F(ToolTest, ListsSearchesAndShowsWithOneLineErrors) {
  KXLocalAddressBook *book = open(dir("book"));
  KXPerson *zoe = person(ns("Zoë"), @"Ørsted", {{@"z@example.dk", KXEmailWorkLabel}});
  KXPerson *ada = person(@"Ada", @"Lovelace", {{@"ada@example.org", KXEmailWorkLabel}});
  [ada setValue:@"Analytical Engines Ltd" forProperty:KXOrganizationProperty];
  [book addRecord:zoe];
  [book addRecord:ada];
  KXGroup *friends = group(book, @"Friends", [NSArray arrayWithObject:zoe]);
  ASSERT_TRUE([book save]);
  std::string b = tmp_.file("book");
  std::string adaLine = std::string([[ada uniqueId] UTF8String]) + "\tAda Lovelace\tada@example.org\n";
  std::string zoeLine = std::string([[zoe uniqueId] UTF8String]) + "\tZoë Ørsted\tz@example.dk\n";

  struct Row {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } rows[] = {
      {"list, sorted by name", {"list"}, 0, adaLine + zoeLine, ""},
      {"search ignores case", {"search", "LOVE"}, 0, adaLine, ""},
      {"search keeps accents", {"search", "zoe"}, 0, "", ""},
      {"search with accent and case", {"search", "ZOË"}, 0, zoeLine, ""},
      {"search organisation", {"search", "engines"}, 0, adaLine, ""},
      {"search e-mail", {"search", "example.dk"}, 0, zoeLine, ""},
      {"groups", {"groups"}, 0, std::string([[friends uniqueId] UTF8String]) + "\tFriends\t1\n", ""},
      {"unknown ID", {"show", "no-such-id"}, 1, "", "kindex: no person or group has the ID no-such-id\n"},
      {"password on the command line",
       {"--password", "x", "list"},
       2,
       "",
       "kindex: passwords are not taken on the command line, where other users can see them; use "
       "--password-file FILE or type it when asked (kindex --help shows the usage)\n"},
  };
  for (const Row &row : rows) {
    std::vector<std::string> args = {"--book", b};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ToolRun run = kindex(args);
    EXPECT_EQ(run.status, row.status) << row.name;
    EXPECT_EQ(run.out, row.out) << row.name;
    EXPECT_EQ(run.err, row.err) << row.name;
  }
  ToolRun shown = kindex({"--book", b, "show", [[zoe uniqueId] UTF8String]});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("E-mail (work): z@example.dk\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Groups: Friends\n"), std::string::npos) << shown.out;

  ToolRun notABook = kindex({"--book", tmp_.file("missing"), "list"});
  EXPECT_EQ(notABook.status, 1);
  EXPECT_EQ(notABook.err, "kindex: cannot open the book: " + tmp_.file("missing") + " does not exist\n");
}

TEST_F(ToolTest, WithoutBookWorksOnTheSharedBookInGNUstepsLibrary) {
  std::string vcf = write("one.vcf", "BEGIN:VCARD\nN:Shared;Sam\nEND:VCARD\n");
  ToolRun imported = kindex({"import", vcf});
  ASSERT_EQ(imported.status, 0) << imported.err;
  struct stat st;
  EXPECT_EQ(stat((kindexTestLibrary + "/Kindex/AddressBook").c_str(), &st), 0)
      << "the shared book is not in the Library directory GNUstep was given";
  ToolRun listed = kindex({"search", "sam"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("\tSam Shared\t"), std::string::npos) << listed.out;
}
