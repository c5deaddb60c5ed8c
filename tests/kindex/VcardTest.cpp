// The vCard text layer decides whether a book survives export and import byte for byte, and
// whether a bad card in a file costs the user that card only: these tests pin both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VcardReader.h"
#include "VcardText.h"
#include "VcardWriter.h"

using namespace vcard;

namespace {

std::vector<std::string> physicalLines(const std::string &folded) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < folded.size()) {
    size_t end = folded.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(folded.substr(pos));
      break;
    }
    lines.push_back(folded.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Cards made here compare field by field; the reader's line number is not part of the content.
void expectSameCard(const Card &a, const Card &b, const std::string &row) {
  SCOPED_TRACE(row);
  EXPECT_EQ(a.uid, b.uid);
  EXPECT_EQ(a.formattedName, b.formattedName);
  EXPECT_EQ(a.familyName, b.familyName);
  EXPECT_EQ(a.givenName, b.givenName);
  EXPECT_EQ(a.additionalNames, b.additionalNames);
  EXPECT_EQ(a.prefixes, b.prefixes);
  EXPECT_EQ(a.suffixes, b.suffixes);
  EXPECT_EQ(a.nickname, b.nickname);
  EXPECT_EQ(a.organization, b.organization);
  EXPECT_EQ(a.department, b.department);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.note, b.note);
  EXPECT_EQ(a.categories, b.categories);
  ASSERT_EQ(a.emails.size(), b.emails.size());
  for (size_t i = 0; i < a.emails.size(); ++i) {
    EXPECT_EQ(a.emails[i].value, b.emails[i].value);
    EXPECT_EQ(a.emails[i].types, b.emails[i].types);
    EXPECT_EQ(a.emails[i].preferred, b.emails[i].preferred);
  }
  ASSERT_EQ(a.phones.size(), b.phones.size());
  for (size_t i = 0; i < a.phones.size(); ++i) {
    EXPECT_EQ(a.phones[i].value, b.phones[i].value);
    EXPECT_EQ(a.phones[i].types, b.phones[i].types);
  }
  ASSERT_EQ(a.addresses.size(), b.addresses.size());
  for (size_t i = 0; i < a.addresses.size(); ++i) {
    EXPECT_EQ(a.addresses[i].street, b.addresses[i].street);
    EXPECT_EQ(a.addresses[i].city, b.addresses[i].city);
    EXPECT_EQ(a.addresses[i].region, b.addresses[i].region);
    EXPECT_EQ(a.addresses[i].postalCode, b.addresses[i].postalCode);
    EXPECT_EQ(a.addresses[i].country, b.addresses[i].country);
    EXPECT_EQ(a.addresses[i].types, b.addresses[i].types);
    EXPECT_EQ(a.addresses[i].preferred, b.addresses[i].preferred);
  }
}

}  // namespace

TEST(VcardText, EscapesAndUnescapesTextValues) {
  struct Row {
    const char *name, *raw, *escaped;
  } rows[] = {
      {"plain", "Ada Lovelace", "Ada Lovelace"},
      {"separators", "a,b;c", "a\\,b\\;c"},
      {"backslash", "C:\\dir\\", "C:\\\\dir\\\\"},
      {"line feed", "one\ntwo", "one\\ntwo"},
      {"non-ASCII", "Zoë Ørsted 日本", "Zoë Ørsted 日本"},
      {"empty", "", ""},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(escapeText(row.raw), row.escaped) << row.name;
    EXPECT_EQ(unescapeText(row.escaped), row.raw) << row.name;
  }
  // Other line breaks become a line feed; readers meet "\N" and unknown escapes in the wild.
  EXPECT_EQ(escapeText("a\r\nb\rc"), "a\\nb\\nc");
  EXPECT_EQ(unescapeText("a\\Nb"), "a\nb");
  EXPECT_EQ(unescapeText("a\\:b\\"), "a:b\\");
}

TEST(VcardText, SplitsOnlyAtUnescapedSeparators) {
  std::vector<std::string> parts = splitEscaped("a\\;b;c;;d\\\\;", ';');
  EXPECT_EQ(parts, (std::vector<std::string>{"a\\;b", "c", "", "d\\\\", ""}));
}

TEST(VcardText, FoldsAtSeventyFiveOctetsWithoutSplittingCharacters) {
  struct Row {
    const char *name;
    std::string line;
  } rows[] = {
      {"short", "FN:Ada"},
      {"exactly 75", "NOTE:" + std::string(70, 'x')},
      {"76", "NOTE:" + std::string(71, 'x')},
      {"long ASCII", "NOTE:" + std::string(400, 'y')},
      {"two-octet letters off by one", "NOTE:x" + repeat("é", 120)},
      {"three-octet letters", "NOTE:" + repeat("日", 90)},
      {"four-octet letters", "NOTE:ab" + repeat("\xF0\x9F\x98\x80", 60)},
  };
  for (const Row &row : rows) {
    std::string folded = foldLine(row.line);
    ASSERT_GE(folded.size(), 2u) << row.name;
    EXPECT_EQ(folded.substr(folded.size() - 2), "\r\n") << row.name;
    std::vector<std::string> lines = physicalLines(folded);
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), 75u) << row.name << ", physical line " << i;
      EXPECT_TRUE(isValidUtf8(lines[i])) << row.name << ", physical line " << i;
      if (i > 0) {
        EXPECT_EQ(lines[i][0], ' ') << row.name << ", physical line " << i;
      }
    }
    std::vector<LogicalLine> back = unfold(folded);
    ASSERT_EQ(back.size(), 1u) << row.name;
    EXPECT_EQ(back[0].text, row.line) << row.name;
  }
}

TEST(VcardText, UnfoldsAndNumbersPhysicalLines) {
  std::vector<LogicalLine> lines = unfold("A:1\r\nB:2\n \tx\n\ty\nC:3");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].text, "B:2\txy");
  EXPECT_EQ(lines[1].line, 2);
  EXPECT_EQ(lines[2].line, 5);
}

TEST(VcardText, RecognisesWellFormedUtf8Only) {
  struct Row {
    const char *name, *bytes;
    bool valid;
  } rows[] = {
      {"ASCII", "abc", true},
      {"two octets", "\xC3\xA9", true},
      {"four octets", "\xF0\x9F\x98\x80", true},
      {"Latin-1 e acute", "caf\xE9", false},
      {"truncated", "\xE6\x97", false},
      {"overlong slash", "\xC0\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
  };
  for (const Row &row : rows) EXPECT_EQ(isValidUtf8(row.bytes), row.valid) << row.name;
}

TEST(VcardWriter, WritesEscapedTypedCrLfCard) {
  Card card;
  card.familyName = "Doe; Jr";
  card.givenName = "Jane, Q";
  card.organization = "Acme";
  card.emails.push_back({"jane@example.org", {"WORK"}, true});
  card.emails.push_back({"j@home.example", {"Cottage, by the sea"}, false});
  card.categories = {"Friends", "A,B"};
  card.uid = "42";
  EXPECT_EQ(writeCard(card),
            "BEGIN:VCARD\r\n"
            "VERSION:3.0\r\n"
            "N:Doe\\; Jr;Jane\\, Q;;;\r\n"
            "FN:Jane\\, Q Doe\\; Jr\r\n"
            "ORG:Acme\r\n"
            "EMAIL;TYPE=INTERNET,WORK,PREF:jane@example.org\r\n"
            "EMAIL;TYPE=INTERNET,\"Cottage, by the sea\":j@home.example\r\n"
            "CATEGORIES:Friends,A\\,B\r\n"
            "UID:42\r\n"
            "END:VCARD\r\n");
}

TEST(VcardWriter, DerivesFormattedNameWhenNoneIsGiven) {
  struct Row {
    const char *name;
    Card card;
    const char *fn;
  } rows[] = {
      {"names", [] { Card c; c.givenName = "Ada"; c.familyName = "Byron"; return c; }(),
       "FN:Ada Byron\r\n"},
      {"organisation", [] { Card c; c.organization = "Acme"; return c; }(), "FN:Acme\r\n"},
      {"e-mail", [] { Card c; c.emails.push_back({"x@y.z", {}, false}); return c; }(),
       "FN:x@y.z\r\n"},
  };
  for (const Row &row : rows)
    EXPECT_NE(writeCard(row.card).find(row.fn), std::string::npos) << row.name;
}

TEST(VcardRoundTrip, WhatIsWrittenReadsBackUnchanged) {
  Card plain;
  plain.givenName = "Ada";
  plain.familyName = "Lovelace";
  plain.formattedName = "Ada Lovelace";

  Card awkward;
  awkward.familyName = "Ørsted, Sr.; the elder";
  awkward.givenName = "Zoë";
  awkward.additionalNames = "Anne,Marie";
  awkward.prefixes = "Dr.";
  awkward.suffixes = "PhD";
  awkward.formattedName = "Dr. Zoë Ørsted";
  awkward.nickname = "Z\\o";
  awkward.organization = "Société Générale; Paris";
  awkward.department = "R&D";
  awkward.title = "Chef";
  awkward.emails = {{"zoe@example.fr", {"WORK"}, true},
                    {"zoë@münchen.example", {"HOME"}, false},
                    {"z@x.example", {"Ferienhaus am See"}, false}};
  awkward.phones = {{"+33 1 23", {"CELL"}, false}, {"+33 9", {"WORK", "FAX"}, false}};
  awkward.addresses = {{"Rue de l'Église 3\nBâtiment B; 2e", "Paris", "", "75001", "France",
                        {"WORK"}, true},
                       {"Strøget 1, st.", "København", "", "1160", "Danmark", {"HOME"}, false}};
  awkward.note = "Line one\nLine two, with; all \\ sorts " + repeat("très long ", 30);
  awkward.categories = {"Amis", "Work, old", "日本"};
  awkward.uid = "A1B2-C3";

  Card bare;
  bare.formattedName = "Only FN";

  std::string text = writeCard(plain) + writeCard(awkward) + writeCard(bare);
  ReadResult read = readCards(text);
  EXPECT_TRUE(read.errors.empty());
  ASSERT_EQ(read.cards.size(), 3u);
  expectSameCard(read.cards[0], plain, "plain");
  expectSameCard(read.cards[1], awkward, "awkward");
  expectSameCard(read.cards[2], bare, "bare");
  EXPECT_EQ(read.cards[1].line, 6);
  EXPECT_NE(text.find("ADR;TYPE=WORK,PREF:;;Rue de l'Église 3\\nBâtiment B\\; 2e;Paris"),
            std::string::npos);  // after the five lines of the plain card
}

TEST(VcardReader, ReadsCardsAsOtherProgramsWriteThem) {
  struct Row {
    const char *name, *text;
    const char *given, *email;
    std::vector<std::string> types;
    bool preferred;
  } rows[] = {
      {"LF line ends, lower-case names",
       "begin:vcard\nversion:3.0\nn:Doe;Jane\nemail;type=internet:j@x\nend:vcard\n", "Jane", "j@x",
       {}, false},
      {"group prefix and TYPE list",
       "BEGIN:VCARD\r\nN:D;J\r\nitem1.EMAIL;TYPE=work,pref:j@x\r\nEND:VCARD\r\n", "J", "j@x",
       {"work"}, true},
      {"bare type words", "BEGIN:VCARD\nFN:J\nN:D;J\nEMAIL;HOME;INTERNET:j@x\nEND:VCARD\n", "J",
       "j@x", {"HOME"}, false},
      {"repeated TYPE and PREF=1",
       "BEGIN:VCARD\nVERSION:4.0\nN:D;J\nEMAIL;TYPE=home;TYPE=\"a:b\";PREF=1:j@x\nEND:VCARD\n", "J",
       "j@x", {"home", "a:b"}, true},
      {"folded with a tab, other properties skipped",
       "BEGIN:VCARD\nN:D;Ja\n\tne\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\nADR:;;x;y;;;\nEMAIL:j@x\n"
       "END:VCARD\n",
       "Jane", "j@x", {}, false},
      {"byte-order mark", "\xEF\xBB\xBF" "BEGIN:VCARD\nN:D;J\nEMAIL:j@x\nEND:VCARD\n", "J", "j@x",
       {}, false},
      {"blank lines around and inside", "\n\nBEGIN:VCARD\n\nN:D;J\nEMAIL:j@x\nEND:VCARD\n\n",
       "J", "j@x", {}, false},
  };
  for (const Row &row : rows) {
    ReadResult read = readCards(row.text);
    EXPECT_TRUE(read.errors.empty()) << row.name << ": " << read.errors.front().message;
    ASSERT_EQ(read.cards.size(), 1u) << row.name;
    const Card &card = read.cards[0];
    EXPECT_EQ(card.givenName, row.given) << row.name;
    ASSERT_EQ(card.emails.size(), 1u) << row.name;
    EXPECT_EQ(card.emails[0].value, row.email) << row.name;
    EXPECT_EQ(card.emails[0].types, row.types) << row.name;
    EXPECT_EQ(card.emails[0].preferred, row.preferred) << row.name;
  }
}

TEST(VcardReader, SkipsMalformedCardsAndNamesTheirLines) {
  const std::string good = "BEGIN:VCARD\nN:Good;One\nEND:VCARD\n";  // three lines
  struct Row {
    const char *name;
    std::string text;
    int line;              // line of the one error
    const char *message;   // part of its text
    size_t cards;          // good cards read
  } rows[] = {
      {"no colon", good + "BEGIN:VCARD\nN:A;B\nEMAIL j@x\nEND:VCARD\n" + good, 6, "no colon", 2},
      {"bad property name", "BEGIN:VCARD\nN:A\nE MAIL:j@x\nEND:VCARD\n" + good, 3,
       "property name", 1},
      {"unterminated quote", "BEGIN:VCARD\nN:A\nEMAIL;TYPE=\"work:j@x\nEND:VCARD\n", 3,
       "quoted", 0},
      {"not UTF-8", good + "BEGIN:VCARD\nN:Caf\xE9;B\nEND:VCARD\n", 5, "UTF-8", 1},
      {"version 2.1", "BEGIN:VCARD\nVERSION:2.1\nN:A\nEND:VCARD\n" + good, 2, "version 2.1", 1},
      {"quoted-printable name",
       "BEGIN:VCARD\nN:A\nFN;ENCODING=QUOTED-PRINTABLE:=C3=A9\nEND:VCARD\n" + good, 3,
       "not supported", 1},
      {"neither N nor FN", good + "BEGIN:VCARD\nEMAIL:j@x\nEND:VCARD\n" + good, 4,
       "neither N nor FN", 2},
      {"END missing before next card", "BEGIN:VCARD\nN:A\n" + good, 1, "no END:VCARD", 1},
      {"END missing at end of file", good + "BEGIN:VCARD\nN:A\n", 4, "no END:VCARD", 1},
      {"END without BEGIN", good + "END:VCARD\n" + good, 4, "without BEGIN", 2},
      {"stray text reported once", "hello\nworld\n" + good, 1, "outside a card", 1},
      {"line numbers count folded lines",
       "BEGIN:VCARD\nNOTE:a\n b\n c\nN:A\nEMAIL;X=\"y:j\nEND:VCARD\n" + good, 6, "quoted", 1},
  };
  for (const Row &row : rows) {
    ReadResult read = readCards(row.text);
    EXPECT_EQ(read.cards.size(), row.cards) << row.name;
    ASSERT_EQ(read.errors.size(), 1u) << row.name;
    EXPECT_EQ(read.errors[0].line, row.line) << row.name;
    EXPECT_NE(read.errors[0].message.find(row.message), std::string::npos)
        << row.name << ": " << read.errors[0].message;
  }
}
