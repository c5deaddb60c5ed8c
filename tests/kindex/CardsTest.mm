// kindex import, export, delete and edit on real files: what other programs wrote must come
// out saying the same (python3-vobject judges), a card's UID finds its record again, a file of
// which nothing is imported leaves no trace, and an edit stores exactly what the user saved.
#import "ToolFixture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

extern std::string kindexTestLibrary;

namespace {

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The comparison script's verdict: empty when the files say the same, else its lines.
std::string compare(const std::string &original, const std::vector<std::string> &written) {
  kxtest::ChildProcess python;
  std::vector<std::string> argv = {"python3", VCARD_COMPARE_SCRIPT, "--by-uid", original};
  argv.insert(argv.end(), written.begin(), written.end());
  if (!python.start("/usr/bin/python3", argv)) return "could not start /usr/bin/python3";
  if (!python.waitForExit(60)) return "the comparison did not end within 60 s";
  if (python.status() == 0) return std::string();
  return python.output() + python.error();
}

size_t entriesIn(const std::string &dir) {
  size_t n = 0;
  if (DIR *d = opendir(dir.c_str())) {
    while (struct dirent *e = readdir(d))
      n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(d);
  }
  return n;
}

std::string card(const std::string &body) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + body + "END:VCARD\r\n";
}

}  // namespace

// Each program's habits, each encoding and each kind of line end: imported, exported as 3.0
// and as 4.0, the cards say what the file said; the book's own export imported again changes
// nothing.
TEST_F(ToolTest, OtherProgramsCardsSurviveImportAndExport) {
  const char *fixtures[] = {"apple-contacts-3.0.vcf",
                            "google-contacts-3.0.vcf",
                            "outlook-2.1.vcf",
                            "android-2.1.vcf",
                            "thunderbird-4.0.vcf",
                            "nextcloud-3.0.vcf",
                            "evolution-3.0.vcf",
                            "nokia-2.1.vcf",
                            "rfc2426-examples.vcf",
                            "rfc6350-examples.vcf",
                            "utf16le-bom.vcf",
                            "utf8-bom.vcf",
                            "latin1.vcf",
                            "blank-lines.vcf",
                            "qp-in-3.0.vcf"};
  std::vector<std::pair<std::string, std::string>> files;  // name, path
  for (const char *fixture : fixtures)
    files.push_back({fixture, std::string(VCARD_FIXTURES) + "/" + fixture});
  // No program at hand ends lines with a lone CR, as old Macs did: one of them made to.
  std::string crOnly = readAll(std::string(VCARD_FIXTURES) + "/evolution-3.0.vcf");
  for (size_t at = crOnly.find("\r\n"); at != std::string::npos; at = crOnly.find("\r\n", at + 1))
    crOnly.erase(at + 1, 1);
  files.push_back({"lone-cr.vcf", write("lone-cr.vcf", crOnly)});
  for (const auto &entry : files) {
    const char *fixture = entry.first.c_str();
    SCOPED_TRACE(fixture);
    std::string book = tmp_.makeDir(std::string("book-") + fixture);
    const std::string &original = entry.second;
    ToolRun imported = kindex({"--book", book, "import", original});
    ASSERT_EQ(imported.status, 0) << imported.err;
    ToolRun as3 = kindex({"--book", book, "export"});
    ToolRun as4 = kindex({"--book", book, "export", "--vcard4"});
    ASSERT_EQ(as3.status, 0) << as3.err;
    ASSERT_EQ(as4.status, 0) << as4.err;
    std::string three = write(std::string(fixture) + ".3.vcf", as3.out);
    std::string four = write(std::string(fixture) + ".4.vcf", as4.out);
    EXPECT_EQ(compare(original, {three, four}), "");

    // The 4.0 export read back says the same (4.0 spells some parameters its own way: PREF=1
    // comes back as TYPE=pref); the 3.0 export read back gives the very same text again.
    for (const std::string &again : {four, three}) {
      ToolRun reimported = kindex({"--book", book, "import", again});
      EXPECT_EQ(reimported.status, 0) << reimported.err;
      EXPECT_EQ(reimported.out.find("Imported 0 persons and 0 new groups, and updated"), 0u)
          << reimported.out;
      std::string after = kindex({"--book", book, "export"}).out;
      if (again == four) {
        EXPECT_EQ(compare(original, {write(std::string(fixture) + ".4-3.vcf", after)}), "");
      } else {
        EXPECT_EQ(after, as3.out);
      }
    }
  }
}

TEST_F(ToolTest, ACardWithAKnownUidUpdatesItsRecord) {
  std::string first =
      write("first.vcf", card("N:Byron;Ada\r\nEMAIL;TYPE=WORK:ada@example.org\r\n"
                              "EMAIL;TYPE=HOME:ada@home.example\r\nTEL:1\r\nUID:ada\r\n") +
                             card("N:Babbage;Charles\r\nCATEGORIES:Engines\r\nUID:charles\r\n"));
  std::string b = tmp_.makeDir("book");
  ToolRun run = kindex({"--book", b, "import", first});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Imported 2 persons and 1 new group from " + first + "\n");
  KXMultiValue *before =
      [[[[open(dir("book")) recordForUniqueId:@"ada"] valueForProperty:KXEmailProperty] retain] autorelease];

  // The same file again changes nothing; a file where Ada married changes her record in
  // place, the e-mail entries that stayed keep their identifiers, and a category only adds.
  run = kindex({"--book", b, "import", first});
  EXPECT_EQ(run.out, "Imported 0 persons and 0 new groups, and updated 2 persons and 0 groups by UID from " +
                         first + "\n");
  std::string second = write("second.vcf", card("N:Lovelace;Ada\r\nEMAIL;TYPE=WORK:ada@example.org\r\n"
                                                "EMAIL;TYPE=HOME:ada@home.example\r\nTEL:1\r\n"
                                                "CATEGORIES:Engines\r\nUID:ada\r\n") +
                                               card("N:Babbage;Charles\r\nUID:charles\r\n"));
  run = kindex({"--book", b, "import", second});
  ASSERT_EQ(run.status, 0) << run.err;
  KXLocalAddressBook *book = open(dir("book"));
  ASSERT_EQ([[book people] count], 2u);
  KXPerson *ada = (KXPerson *)[book recordForUniqueId:@"ada"];
  EXPECT_EQ(std::string([[ada valueForProperty:KXLastNameProperty] UTF8String]), "Lovelace");
  KXMultiValue *after = [ada valueForProperty:KXEmailProperty];
  EXPECT_TRUE([after isEqual:before]) << "unchanged entries keep their identifiers";
  KXGroup *engines = [[book groups] objectAtIndex:0];
  EXPECT_EQ([[engines members] count], 2u) << "CATEGORIES add memberships and never remove them";

  // A card of the other kind than the record its UID names is skipped.
  std::string clash = write("clash.vcf", card("FN:Clash\r\nX-ADDRESSBOOKSERVER-KIND:group\r\nUID:ada\r\n"));
  run = kindex({"--book", b, "import", clash});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "kindex: " + clash +
                         ":1: skipped a card: the card is a group's, but ada is a person of the book\n");
}

// Apple's 3.0 group cards and 4.0's KIND:group come back as the same groups with the same
// members, whichever version the book is exported in.
TEST_F(ToolTest, GroupCardsComeBackWithTheirMembers) {
  std::string file =
      write("groups.vcf",
            card("FN:Friends\r\nN:Friends\r\nX-ADDRESSBOOKSERVER-KIND:group\r\n"
                 "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p1\r\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p2\r\n"
                 "UID:g1\r\n") +
                "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\n"
                "MEMBER:urn:uuid:p2\r\nUID:urn:uuid:g2\r\nEND:VCARD\r\n" +
                card("FN:Pat One\r\nN:One;Pat\r\nUID:p1\r\n") +
                card("FN:Sam Two\r\nN:Two;Sam\r\nUID:urn:uuid:p2\r\n"));
  std::string b = tmp_.makeDir("book");
  ToolRun run = kindex({"--book", b, "import", file});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Imported 2 persons and 2 new groups from " + file + "\n");
  EXPECT_EQ(compare(file, {write("out3.vcf", kindex({"--book", b, "export"}).out),
                           write("out4.vcf", kindex({"--book", b, "export", "--vcard4"}).out)}),
            "");
  for (const char *version : {"3", "4"}) {
    std::string copy = tmp_.makeDir(std::string("copy") + version);
    ToolRun back = kindex({"--book", copy, "import", tmp_.file(std::string("out") + version + ".vcf")});
    ASSERT_EQ(back.status, 0) << back.err;
    KXLocalAddressBook *book = open([NSString stringWithUTF8String:copy.c_str()]);
    KXGroup *friends = (KXGroup *)[book recordForUniqueId:@"g1"];
    KXGroup *family = (KXGroup *)[book recordForUniqueId:@"urn:uuid:g2"];
    ASSERT_TRUE(friends != nil && family != nil) << version;
    EXPECT_EQ([[friends members] count], 2u) << version;
    ASSERT_EQ([[family members] count], 1u) << version;
    EXPECT_EQ(std::string([[[[family members] objectAtIndex:0] uniqueId] UTF8String]), "urn:uuid:p2");
  }
}

// Nothing imported, nothing touched: neither the shared book nor an empty --book directory
// comes into being for a file without a card to import.
TEST_F(ToolTest, AFileOfWhichNothingIsImportedMakesNoBook) {
  std::string shared = kindexTestLibrary + "/Kindex/AddressBook";
  struct stat st;
  ASSERT_NE(stat(shared.c_str(), &st), 0) << "each test starts without a shared book";
  struct Row {
    const char *name, *content;
    int status;
  } rows[] = {
      {"malformed only", "BEGIN:VCARD\r\nN:A\r\nX\r\nEND:VCARD\r\n", 3},
      {"names no one", "BEGIN:VCARD\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n", 3},
      {"empty", "", 0},
  };
  for (const Row &row : rows) {
    std::string path = write("nothing.vcf", row.content);
    ToolRun run = kindex({"import", path});
    EXPECT_EQ(run.status, row.status) << row.name << run.err;
    EXPECT_EQ(run.out, "Imported 0 persons and 0 new groups from " + path + "\n") << row.name;
    EXPECT_NE(stat(shared.c_str(), &st), 0) << row.name << ": the shared book was made";
    std::string empty = tmp_.makeDir("empty");
    kindex({"--book", empty, "import", path});
    EXPECT_EQ(entriesIn(empty), 0u) << row.name;
  }
}

TEST_F(ToolTest, DeleteAndEditOneRecord) {
  std::string b = tmp_.makeDir("book");
  std::string file = write("two.vcf", card("N:Byron;Ada\r\nTEL;TYPE=CELL:1\r\nNOTE:keep me\r\nUID:ada\r\n") +
                                          card("N:Babbage;Charles\r\nCATEGORIES:Engines\r\nUID:charles\r\n"));
  ASSERT_EQ(kindex({"--book", b, "import", file}).status, 0);

  // An editor that changes the phone number, one that saves nothing new, one that breaks the
  // card, and one that changes its UID.
  std::string sedEditor =
      write("sed-editor", "#!/bin/sh\nsed -i 's/^TEL;TYPE=CELL:1/TEL;TYPE=CELL:2/' \"$1\"\n");
  std::string breaker =
      write("breaker", "#!/bin/sh\nprintf 'BEGIN:VCARD\\r\\nN Byron\\r\\nEND:VCARD\\r\\n' > \"$1\"\n");
  std::string renamer = write("renamer", "#!/bin/sh\nsed -i 's/^UID:ada/UID:other/' \"$1\"\n");
  for (const std::string &script : {sedEditor, breaker, renamer}) chmod(script.c_str(), 0755);

  ToolRun same = kindex({"--book", b, "edit", "ada"}, {"EDITOR=true"});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "Nothing changed\n");

  ToolRun edited = kindex({"--book", b, "edit", "ada"}, {"EDITOR=" + sedEditor});
  EXPECT_EQ(edited.status, 0) << edited.err;
  EXPECT_EQ(edited.out, "Stored ada\n");
  KXRecord *ada = [open(dir("book")) recordForUniqueId:@"ada"];
  EXPECT_EQ(std::string([[[ada valueForProperty:KXPhoneProperty] valueAtIndex:0] UTF8String]), "2");
  EXPECT_EQ(std::string([[ada valueForProperty:KXNoteProperty] UTF8String]), "keep me");

  for (const auto &refused : {std::make_pair(breaker, std::string("line 2: no colon in the line")),
                              std::make_pair(renamer, std::string("the card's UID must stay ada"))}) {
    ToolRun run = kindex({"--book", b, "edit", "ada"}, {"VISUAL=" + refused.first, "EDITOR="});
    EXPECT_EQ(run.status, 1);
    std::string prefix = "kindex: the card was not stored: " + refused.second + "; your text is in ";
    ASSERT_EQ(run.err.compare(0, prefix.size(), prefix), 0) << run.err;
    std::string kept = run.err.substr(prefix.size(), run.err.size() - prefix.size() - 1);
    std::string text = readAll(kept);
    EXPECT_NE(text.find(refused.first == breaker ? "N Byron" : "UID:other"), std::string::npos) << kept;
    unlink(kept.c_str());
  }
  EXPECT_EQ(kindex({"--book", b, "export"}).out.find("UID:other"), std::string::npos);

  ToolRun deleted = kindex({"--book", b, "delete", "charles"});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "Deleted charles\n");
  KXLocalAddressBook *book = open(dir("book"));
  EXPECT_TRUE([book recordForUniqueId:@"charles"] == nil);
  EXPECT_EQ([[[[book groups] objectAtIndex:0] members] count], 0u);
  ToolRun unknown = kindex({"--book", b, "delete", "charles"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "kindex: no person or group has the ID charles\n");
}
