// The vCard text layer decides whether what other programs wrote reaches the book whole, and
// whether a bad card in a file costs the user that card only: these tests pin both, a table of
// cases for each step (files and lines, values, malformed cards, writing and converting).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vcard/VcardEncoding.h"
#include "vcard/VcardReader.h"
#include "vcard/VcardText.h"
#include "vcard/VcardWriter.h"

using namespace vcard;

namespace {

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// A property as one line, "group.NAME;P=v1,v2;Q=v:value" (parameter values bare), for
// comparing what was read with what was meant.
std::string render(const Property &p) {
  std::string out = p.group.empty() ? p.name : p.group + "." + p.name;
  for (const Parameter &param : p.params) {
    out += ";" + param.name + "=";
    for (size_t i = 0; i < param.values.size(); ++i) out += (i ? "," : "") + param.values[i];
  }
  return out + ":" + p.value;
}

std::vector<std::string> rendered(const Card &card) {
  std::vector<std::string> out;
  for (const Property &p : card.properties) out.push_back(render(p));
  return out;
}

// The one property `name` of the only card read from `text`, rendered; a message otherwise.
std::string readOne(const std::string &text, const std::string &name) {
  ReadResult read = readCards(text);
  if (!read.errors.empty()) return "error: " + read.errors[0].message;
  if (read.cards.size() != 1) return "cards: " + std::to_string(read.cards.size());
  const Property *p = read.cards[0].find(name);
  return p ? render(*p) : "no " + name;
}

}  // namespace

TEST(VcardText, EscapesAndUnescapesTextValues) {
  struct Row {
    const char *name, *raw, *escaped;
  } rows[] = {
      {"plain", "Ada Lovelace", "Ada Lovelace"},           {"separators", "a,b;c", "a\\,b\\;c"},
      {"backslash", "C:\\dir\\", "C:\\\\dir\\\\"},         {"line feed", "one\ntwo", "one\\ntwo"},
      {"non-ASCII", "Zoë Ørsted 日本", "Zoë Ørsted 日本"}, {"empty", "", ""},
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
  Property n("N", "Doe\\, Jr.;Jane;Anne,Marie;;");
  EXPECT_EQ(n.components(),
            (std::vector<std::vector<std::string>>{{"Doe, Jr."}, {"Jane"}, {"Anne", "Marie"}, {""}, {""}}));
  EXPECT_EQ(structuredValue(n.components()), n.value);
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
    std::string unfolded;
    std::vector<PhysicalLine> lines = splitLines(folded);
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string text(lines[i].text);
      EXPECT_LE(text.size(), 75u) << row.name << ", physical line " << i;
      EXPECT_TRUE(isValidUtf8(text)) << row.name << ", physical line " << i;
      if (i > 0) {
        ASSERT_EQ(text[0], ' ') << row.name << ", physical line " << i;
      }
      unfolded += i == 0 ? text : text.substr(1);
    }
    EXPECT_EQ(unfolded, row.line) << row.name;
  }
}

TEST(VcardText, SplitsLinesAtEveryLineEndRealFilesUse) {
  struct Row {
    const char *name, *text;
    std::vector<std::string> lines;
    int lastLine;
  } rows[] = {
      {"CR LF", "A\r\nB\r\n", {"A", "B"}, 2},
      {"LF", "A\nB", {"A", "B"}, 2},
      {"CR alone", "A\rB\r", {"A", "B"}, 2},
      {"CR CR LF, one line end", "A\r\r\nB\r\r\n", {"A", "B"}, 2},
      {"mixed, and an empty line", "A\n\r\nB\rC", {"A", "", "B", "C"}, 4},
  };
  for (const Row &row : rows) {
    std::string text = row.text;
    std::vector<PhysicalLine> lines = splitLines(text);
    std::vector<std::string> texts;
    for (const PhysicalLine &l : lines) texts.push_back(std::string(l.text));
    EXPECT_EQ(texts, row.lines) << row.name;
    EXPECT_EQ(lines.back().line, row.lastLine) << row.name;
  }
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

TEST(VcardText, ParameterValuesAreQuotedAndCaretEscaped) {
  struct Row {
    const char *name, *value, *written;
  } rows[] = {
      {"plain", "HOME", "HOME"},
      {"non-ASCII", "Büro", "Büro"},
      {"separators", "a:b;c,d", "\"a:b;c,d\""},
      {"double quote", "say \"hi\"", "say ^'hi^'"},
      {"line breaks", "one\ntwo\r\nthree", "one^ntwo^nthree"},
      {"caret that reads as an escape", "a^nb^^c^'", "a^^nb^^^c^^'"},
      {"caret of its own", "x^y^", "x^y^"},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(encodeParamValue(row.value), row.written) << row.name;
    std::string inner = row.written;
    if (inner[0] == '"') inner = inner.substr(1, inner.size() - 2);
    std::string expected = row.value;
    for (size_t p; (p = expected.find("\r\n")) != std::string::npos;) expected.erase(p, 1);
    EXPECT_EQ(decodeCaretEscapes(inner), expected) << row.name;
  }
  // No escape exists for other control characters, and a quoted string cannot hold them.
  EXPECT_EQ(encodeParamValue("a\x01\x1b\x7f"
                             "b"),
            "ab");
}

TEST(VcardText, FileTextInMessagesCannotDriveTheTerminal) {
  struct Row {
    const char *name;
    std::string text, shown;
  } rows[] = {
      {"plain", "5.0", "5.0"},
      {"escape sequence", "\x1b[2J5.0", "\\x1b[2J5.0"},
      {"bell and line feed", "a\x07\nb", "a\\x07\\x0ab"},
      {"C1 control as UTF-8",
       "\xC2\x9B"
       "31m",
       "\\xc2\\x9b31m"},
      {"not UTF-8", "caf\xE9", "caf\\xe9"},
      {"letters kept", "Zoë 日本", "Zoë 日本"},
      {"long text cut", std::string(100, 'x'), std::string(60, 'x') + "..."},
  };
  for (const Row &row : rows) EXPECT_EQ(printable(row.text), row.shown) << row.name;
}

TEST(VcardEncoding, DecodesTransferEncodingsAndCharacterSets) {
  EXPECT_EQ(decodeQuotedPrintable("caf=C3=a9 =3D x=\r\ny=\nz="), "café = xyz");
  EXPECT_EQ(decodeQuotedPrintable("50=% off =G1"), "50=% off =G1");
  std::string bytes;
  EXPECT_TRUE(decodeBase64("QUJD\n REVG\tRw==", bytes));
  EXPECT_EQ(bytes, "ABCDEFG");
  EXPECT_FALSE(decodeBase64("QUJD*", bytes));
  EXPECT_FALSE(decodeBase64("QQ==QUJD", bytes));

  struct Row {
    const char *name, *bytes, *charset, *text;  // text nullptr: refused
  } rows[] = {
      {"Latin-1", "Z\xFCrich", "ISO-8859-1", "Zürich"},
      {"Windows-1252 quotes and euro",
       "\x84"
       "a\x93 \x80",
       "Windows-1252", "„a“ €"},
      {"Windows-1252 octet it leaves undefined", "a\x81", "windows-1252", "a\xC2\x81"},
      {"Shift_JIS with a backslash octet inside a letter", "\x83\x5C", "SHIFT_JIS", "ソ"},
      {"UTF-8 named in lower case", "\xC3\xA9", "utf-8", "é"},
      {"UTF-8 that is not", "\xE9", "UTF-8", nullptr},
      {"unknown set", "x", "NO-SUCH-SET", nullptr},
      {"iconv suffix", "x", "UTF-8//IGNORE", nullptr},
  };
  for (const Row &row : rows) {
    std::string text, error;
    bool ok = convertToUtf8(row.bytes, row.charset, text, error);
    EXPECT_EQ(ok, row.text != nullptr) << row.name << ": " << error;
    if (ok && row.text) {
      EXPECT_EQ(text, row.text) << row.name;
    }
  }
}

TEST(VcardReader, ReadsEveryFileEncodingAndLineEnd) {
  const std::string card = "BEGIN:VCARD\nVERSION:3.0\nFN:Zoë\nEND:VCARD\n";
  auto utf16 = [](const std::string &ascii, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) out += little ? std::string(1, c) + '\0' : std::string(1, '\0') + c;
    return out;
  };
  std::string zoe16 = "BEGIN:VCARD\nFN:Zo\x01\nEND:VCARD\n";  // \x01 stands for U+00EB below
  std::string le = utf16(zoe16, true), be = utf16(zoe16, false);
  le[le.find('\x01')] = '\xEB';
  be[be.find('\x01')] = '\xEB';
  struct Row {
    const char *name;
    std::string text;
    const char *fn;
    size_t warnings;
  } rows[] = {
      {"UTF-8, LF", card, "FN:Zoë", 0},
      {"CR LF", "BEGIN:VCARD\r\nFN:Zoë\r\nEND:VCARD\r\n", "FN:Zoë", 0},
      {"CR alone", "BEGIN:VCARD\rFN:Zoë\rEND:VCARD\r", "FN:Zoë", 0},
      {"CR CR LF", "BEGIN:VCARD\r\r\nFN:Zo\r\r\n ë\r\r\nEND:VCARD\r\r\n", "FN:Zoë", 0},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + card, "FN:Zoë", 0},
      {"UTF-16 LE", le, "FN:Zoë", 0},
      {"UTF-16 BE", be, "FN:Zoë", 0},
      {"Latin-1 without CHARSET", "BEGIN:VCARD\nFN:Zo\xEB\nNOTE:\xE9\nEND:VCARD\n", "FN:Zoë", 1},
      {"8-bit values under CHARSET", "BEGIN:VCARD\nFN;CHARSET=ISO-8859-15:\xA4 Zo\xEB\nEND:VCARD\n",
       "FN:€ Zoë", 0},
      {"CHARSET on a UTF-8 file's plain value", "BEGIN:VCARD\nFN;CHARSET=ISO-8859-1:Zoë\nEND:VCARD\n",
       "FN:Zoë", 0},
      {"Shift_JIS value with a backslash octet",
       "BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=SHIFT_JIS:\x83\x5C;x\nEND:VCARD\n", "FN:ソ;x", 0},
      {"folded with a tab, blank lines around and inside",
       "\n\nBEGIN:VCARD\n\nFN:Z\n\to\n ë\n\nEND:VCARD\n\n", "FN:Zoë", 0},
  };
  for (const Row &row : rows) {
    ReadResult read = readCards(row.text);
    EXPECT_TRUE(read.errors.empty()) << row.name << ": " << read.errors.front().message;
    ASSERT_EQ(read.cards.size(), 1u) << row.name;
    EXPECT_EQ(render(*read.cards[0].find("FN")), row.fn) << row.name;
    EXPECT_EQ(read.warnings.size(), row.warnings) << row.name;
  }
}

TEST(VcardReader, DecodesValuesOfEveryVersionIntoThreeZeroForm) {
  const std::string b21 = "BEGIN:VCARD\r\nVERSION:2.1\r\n", b30 = "BEGIN:VCARD\r\nVERSION:3.0\r\n",
                    b40 = "BEGIN:VCARD\r\nVERSION:4.0\r\n", end = "END:VCARD\r\n";
  struct Row {
    const char *name;
    std::string text;
    const char *property, *expected;
  } rows[] = {
      {"2.1 QP soft break, next line's blank is text",
       b21 + "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:a=C3=\r\n=A9=0D=0Ab, c=\r\n d\r\n" + end, "NOTE",
       "NOTE:aé\\nb\\, c d"},
      {"3.0 QP folded inside =XX", b30 + "NOTE;ENCODING=QUOTED-PRINTABLE:caf=\r\n C3=A9\r\n" + end, "NOTE",
       "NOTE:café"},
      {"bare QUOTED-PRINTABLE word", b21 + "FN;QUOTED-PRINTABLE:J=C3=B6\r\n" + end, "FN", "FN:Jö"},
      {"QP without CHARSET, not UTF-8", b21 + "FN;ENCODING=QUOTED-PRINTABLE:J=F6\r\n" + end, "FN", "FN:Jö"},
      {"2.1 base64 on unindented lines to a blank line",
       b21 + "PHOTO;JPEG;ENCODING=BASE64:\r\nQUJD\r\nREVG\r\n\r\nTEL:1\r\n" + end, "PHOTO",
       "PHOTO;TYPE=JPEG;ENCODING=b:QUJDREVG"},
      {"the property after 2.1 base64 is read", b21 + "PHOTO;BASE64:\r\nQUJD\r\n\r\nTEL:1\r\n" + end, "TEL",
       "TEL:1"},
      {"3.0 base64 folded with blanks and a tab",
       b30 + "LOGO;ENCODING=b;TYPE=PNG:QUJD\r\n  REVG\r\n\tRw==\r\n" + end, "LOGO",
       "LOGO;ENCODING=b;TYPE=PNG:QUJDREVGRw=="},
      {"base64 text is text", b30 + "TITLE;ENCODING=b:SmVmZSwgdmVudGFz\r\n" + end, "TITLE",
       "TITLE:Jefe, ventas"},
      {"4.0 data URI kept as written", b40 + "PHOTO:data:image/png;base64,QUJD\r\n" + end, "PHOTO",
       "PHOTO:data:image/png;base64,QUJD"},
      {"2.1 escapes: \\; kept, bare comma escaped, lone backslash kept",
       b21 + "N:O\\;Neil, Jr;C:\\dir\\\\x\r\n" + end, "N", "N:O\\;Neil\\, Jr;C:\\\\dir\\\\x"},
      {"2.1 lists keep their commas", b21 + "CATEGORIES:Work,VIP\r\n" + end, "CATEGORIES",
       "CATEGORIES:Work,VIP"},
      {"2.1 URIs are no text", b21 + "URL:http://x.example/a,b\r\n" + end, "URL", "URL:http://x.example/a,b"},
      {"3.0 values stay as written", b30 + "NOTE:a\\,b,c\\:d\r\n" + end, "NOTE", "NOTE:a\\,b,c\\:d"},
      {"2.1 bare types and PREF", b21 + "TEL;CELL;PREF:1\r\n" + end, "TEL", "TEL;TYPE=CELL,PREF:1"},
      {"TYPE twice, case of group and values kept", b30 + "Item1.email;type=INTERNET;type=pref:a@b\r\n" + end,
       "EMAIL", "Item1.EMAIL;TYPE=INTERNET,pref:a@b"},
      {"quoted TYPE list is several types", b40 + "TEL;TYPE=\"work,voice\";PREF=1:tel:+1\r\n" + end, "TEL",
       "TEL;TYPE=work,voice;PREF=1:tel:+1"},
      {"other quoted values keep their commas and colons",
       b30 + "ADR;LABEL=\"a, b:c;d\";X-Y=1,\"2,3\":;;x;;;;\r\n" + end, "ADR",
       "ADR;LABEL=a, b:c;d;X-Y=1,2,3:;;x;;;;"},
      {"RFC 6868 carets in 4.0", b40 + "X-A;X-P=\"^'q^'^n^^\":v\r\n" + end, "X-A", "X-A;X-P=\"q\"\n^:v"},
      {"no carets in 2.1", b21 + "X-A;X-P=a^nb:v\r\n" + end, "X-A", "X-A;X-P=a^nb:v"},
      {"2.1 AGENT with a card inside",
       b21 + "AGENT:\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:A;B\r\nEND:VCARD\r\nTITLE:Boss\r\n" + end, "AGENT",
       "AGENT:BEGIN:VCARD\\nVERSION:2.1\\nN:A\\;B\\nEND:VCARD"},
      {"outer card goes on after AGENT",
       b21 + "AGENT:\r\nBEGIN:VCARD\r\nN:A;B\r\nEND:VCARD\r\nTITLE:Boss\r\n" + end, "TITLE", "TITLE:Boss"},
      {"stray soft break before the card's end", b21 + "NOTE;QUOTED-PRINTABLE:a=\r\nEND:VCARD\r\n", "NOTE",
       "NOTE:a"},
      {"2.1 VALUE=URL", b21 + "PHOTO;VALUE=URL:http://x/p.jpg\r\n" + end, "PHOTO",
       "PHOTO;VALUE=uri:http://x/p.jpg"},
      {"8-bit parameter of a legacy file", b30 + "TEL;TYPE=B\xFCro:1\r\n" + end, "TEL", "TEL;TYPE=Büro:1"},
      {"ENCODING and CHARSET consumed, 8BIT too",
       b21 + "FN;CHARSET=UTF-8;ENCODING=8BIT;LANGUAGE=fi:Jö\r\n" + end, "FN", "FN;LANGUAGE=fi:Jö"},
  };
  for (const Row &row : rows) EXPECT_EQ(readOne(row.text, row.property), row.expected) << row.name;

  ReadResult noVersion = readCards("BEGIN:VCARD\nN:A;B\nEND:VCARD\n");
  ASSERT_EQ(noVersion.cards.size(), 1u);
  EXPECT_EQ(noVersion.cards[0].version, "3.0");
  ReadResult legacyTwice = readCards("BEGIN:VCARD\nFN:\xE9\nEND:VCARD\nBEGIN:VCARD\nFN:\xE8\nEND:VCARD\n");
  ASSERT_EQ(legacyTwice.warnings.size(), 1u) << "one warning for the file";
  EXPECT_EQ(legacyTwice.warnings[0].line, 2);
}

TEST(VcardReader, SkipsMalformedCardsAndNamesTheirLines) {
  const std::string good = "BEGIN:VCARD\nN:Good;One\nEND:VCARD\n";  // three lines
  struct Row {
    const char *name;
    std::string text;
    int line;             // line of the one error
    const char *message;  // its text, or a part of it
    size_t cards;         // good cards read
  } rows[] = {
      {"no colon", good + "BEGIN:VCARD\nN:A;B\nEMAIL j@x\nEND:VCARD\n" + good, 6, "no colon in the line", 2},
      {"bad property name", "BEGIN:VCARD\nN:A\nE MAIL:j@x\nEND:VCARD\n" + good, 3, "bad property name", 1},
      {"unterminated quote", "BEGIN:VCARD\nN:A\nEMAIL;TYPE=\"work:j@x\nEND:VCARD\n", 3,
       "unterminated quoted parameter value", 0},
      {"unknown version", "BEGIN:VCARD\nVERSION:5.0\nN:A\nEND:VCARD\n" + good, 2,
       "unsupported vCard version 5.0", 1},
      {"version with control characters", "BEGIN:VCARD\nVERSION:\x1b[31m9\nN:A\nEND:VCARD\n", 2,
       "unsupported vCard version \\x1b[31m9", 0},
      {"unknown encoding", good + "BEGIN:VCARD\nN;ENCODING=X-\x07:A\nEND:VCARD\n", 5, "ENCODING=X-\\x07", 1},
      {"unknown character set", "BEGIN:VCARD\nN;CHARSET=X-NONE;ENCODING=QUOTED-PRINTABLE:=E9\nEND:VCARD\n", 2,
       "unknown character set X-NONE", 0},
      {"value not in its character set",
       "BEGIN:VCARD\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E9\nEND:VCARD\n", 2,
       "not text in the character set UTF-8", 0},
      {"NUL byte in a value", std::string("BEGIN:VCARD\nN:X\0Y;Z\nEND:VCARD\n", 30) + good, 2, "NUL", 1},
      {"NUL byte from QUOTED-PRINTABLE", "BEGIN:VCARD\nNOTE;ENCODING=QUOTED-PRINTABLE:a=00b\nEND:VCARD\n", 2,
       "NUL", 0},
      {"NUL byte in a card inside AGENT",
       std::string("BEGIN:VCARD\nAGENT:\nBEGIN:VCARD\nN:\0\nEND:VCARD\nEND:VCARD\n", 55), 2, "NUL", 0},
      {"END missing before next card", "BEGIN:VCARD\nN:A\n" + good, 1, "card has no END:VCARD", 1},
      {"END missing at end of file", good + "BEGIN:VCARD\nN:A\n", 4, "card has no END:VCARD", 1},
      {"AGENT card never ended", "BEGIN:VCARD\nAGENT:\nBEGIN:VCARD\nN:A\nEND:VCARD\n", 1,
       "card has no END:VCARD", 0},
      {"END without BEGIN", good + "END:VCARD\n" + good, 4, "END:VCARD without BEGIN:VCARD", 2},
      {"stray text reported once", "hello\nworld\n" + good, 1, "text outside a card", 1},
      {"line numbers count folded lines",
       "BEGIN:VCARD\nNOTE:a\n b\n c\nN:A\nEMAIL;X=\"y:j\nEND:VCARD\n" + good, 6, "unterminated", 1},
      {"UTF-16 mark on bytes that are not",
       std::string("\xFF\xFE"
                   "B\0\0\xD8",
                   6),
       1, "not UTF-16LE", 0},
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

TEST(VcardWriter, WritesEachVersionsRequiredPropertiesAndForms) {
  Card card;
  card.add("N", structuredValue({{"Doe; Jr"}, {"Jane, Q"}, {}, {}, {}}));
  Property &email = card.add("EMAIL", "jane@example.org");
  email.setParam("TYPE", {"INTERNET", "WORK", "pref"});
  card.add("X-ABLABEL", textValue("Cottage, by the sea")).group = "item1";
  card.add("NOTE", "line one\ntwo").setParam("X-SAID", {"she said \"no\"", "a;b"});
  card.add("CATEGORIES", listValue({"Friends", "A,B"}));
  EXPECT_EQ(writeCard(card),
            "BEGIN:VCARD\r\n"
            "VERSION:3.0\r\n"
            "FN:Jane\\, Q Doe\\; Jr\r\n"
            "N:Doe\\; Jr;Jane\\, Q;;;\r\n"
            "EMAIL;TYPE=INTERNET,WORK,pref:jane@example.org\r\n"
            "item1.X-ABLABEL:Cottage\\, by the sea\r\n"
            "NOTE;X-SAID=she said ^'no^',\"a;b\":line one\\ntwo\r\n"
            "CATEGORIES:Friends,A\\,B\r\n"
            "END:VCARD\r\n");
  EXPECT_EQ(writeCard(card, Version::v4),
            "BEGIN:VCARD\r\n"
            "VERSION:4.0\r\n"
            "FN:Jane\\, Q Doe\\; Jr\r\n"
            "N:Doe\\; Jr;Jane\\, Q;;;\r\n"
            "EMAIL;TYPE=INTERNET,WORK;PREF=1:jane@example.org\r\n"
            "item1.X-ABLABEL:Cottage\\, by the sea\r\n"
            "NOTE;X-SAID=she said ^'no^',\"a;b\":line one\\ntwo\r\n"
            "CATEGORIES:Friends,A\\,B\r\n"
            "END:VCARD\r\n");

  struct Row {
    const char *name;
    std::vector<Property> properties;
    const char *v3, *v4;  // the lines after VERSION: a made N follows FN
  } rows[] = {
      {"FN from N", {Property("N", "Byron;Ada;;Lady;")}, "FN:Lady Ada Byron\r\n", "FN:Lady Ada Byron\r\n"},
      {"FN from ORG",
       {Property("ORG", "Acme\\, Inc.;Sales")},
       "FN:Acme\\, Inc.\r\nN:;;;;\r\n",
       "FN:Acme\\, Inc.\r\n"},
      {"FN from an e-mail", {Property("EMAIL", "x@y.z")}, "FN:x@y.z\r\nN:;;;;\r\n", "FN:x@y.z\r\n"},
      {"N from FN's words",
       {Property("FN", "Mary Ann  van Dyke")},
       "FN:Mary Ann  van Dyke\r\nN:Dyke;Mary Ann van;;;\r\n",
       ""},
      {"no N for a group",
       {Property("FN", "Book club"), Property("KIND", "group")},
       "FN:Book club\r\nN:;;;;\r\n",
       ""},
      {"no N for Apple's group",
       {Property("FN", "Team"), Property("X-ADDRESSBOOKSERVER-KIND", "group")},
       "FN:Team\r\nN:;;;;\r\n",
       ""},
      {"N after an FN that is not first",
       {Property("NOTE", "x"), Property("FN", "Ada Byron"), Property("TEL", "1")},
       "NOTE:x\r\nFN:Ada Byron\r\nN:Byron;Ada;;;\r\nTEL:1\r\n",
       "NOTE:x\r\nFN:Ada Byron\r\nTEL:1\r\n"},
  };
  for (const Row &row : rows) {
    Card made;
    made.properties = row.properties;
    for (Version version : {Version::v3, Version::v4}) {
      std::string text = writeCard(made, version);
      std::string head =
          version == Version::v3 ? "BEGIN:VCARD\r\nVERSION:3.0\r\n" : "BEGIN:VCARD\r\nVERSION:4.0\r\n";
      EXPECT_EQ(text.substr(0, head.size() + strlen(version == Version::v3 ? row.v3 : row.v4)),
                head + (version == Version::v3 ? row.v3 : row.v4))
          << row.name << (version == Version::v3 ? ", 3.0" : ", 4.0");
    }
  }
}

TEST(VcardWriter, ConvertsBetweenVersionsBothWays) {
  struct Row {
    const char *name;
    const char *v3, *v4;  // the same property as each version writes it
  } rows[] = {
      {"pref", "EMAIL;TYPE=HOME,pref:a@b", "EMAIL;TYPE=HOME;PREF=1:a@b"},
      {"pref alone", "TEL;TYPE=pref:1", "TEL;PREF=1:1"},
      {"other ranks stay", "LANG;PREF=2:en", "LANG;PREF=2:en"},
      {"photo", "PHOTO;ENCODING=b;TYPE=JPEG:QUJD", "PHOTO:data:image/jpeg;base64,QUJD"},
      {"photo without a format", "PHOTO;ENCODING=b:QUJD", "PHOTO:data:;base64,QUJD"},
      {"sound", "SOUND;ENCODING=b;TYPE=WAVE:QUJD", "SOUND:data:audio/wave;base64,QUJD"},
      {"key", "KEY;ENCODING=b;TYPE=PGP:QUJD", "KEY:data:application/pgp-keys;base64,QUJD"},
      {"photo by URI", "PHOTO;VALUE=uri:http://x/p.jpg", "PHOTO:http://x/p.jpg"},
      {"geo", "GEO:46.77;-71.28", "GEO:geo:46.77,-71.28"},
      {"kind", "X-ADDRESSBOOKSERVER-KIND:group", "KIND:group"},
      {"member", "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:1", "MEMBER:urn:uuid:1"},
      {"gender", "X-GENDER:F", "GENDER:F"},
      {"anniversary", "X-ANNIVERSARY:2001-06-01", "ANNIVERSARY:2001-06-01"},
      {"tel URI stays", "TEL;VALUE=uri;TYPE=work:tel:+1-418-656-9254;ext=102",
       "TEL;VALUE=uri;TYPE=work:tel:+1-418-656-9254;ext=102"},
      {"4.0-only property keeps its name", "RELATED;TYPE=friend:urn:uuid:2",
       "RELATED;TYPE=friend:urn:uuid:2"},
      {"ADR's LABEL parameter stays", "ADR;LABEL=1 Main St^nTown:;;1 Main St;Town;;;",
       "ADR;LABEL=1 Main St^nTown:;;1 Main St;Town;;;"},
  };
  for (const Row &row : rows) {
    for (const char *source : {row.v3, row.v4}) {
      bool from4 = source == row.v4;
      ReadResult read = readCards(std::string("BEGIN:VCARD\r\nVERSION:") + (from4 ? "4.0" : "3.0") +
                                  "\r\nFN:x\r\nN:;;;;\r\n" + source + "\r\nEND:VCARD\r\n");
      ASSERT_EQ(read.cards.size(), 1u) << row.name;
      for (Version version : {Version::v3, Version::v4}) {
        std::string text = writeCard(read.cards[0], version);
        std::string expected = std::string(version == Version::v3 ? row.v3 : row.v4) + "\r\n";
        EXPECT_NE(text.find("\r\n" + expected), std::string::npos)
            << row.name << ": from " << (from4 ? "4.0" : "3.0") << " to "
            << (version == Version::v3 ? "3.0" : "4.0") << "\n"
            << text;
      }
    }
  }
}

TEST(VcardRoundTrip, WhatIsWrittenReadsBackUnchanged) {
  Card card;
  card.version = "4.0";
  card.add("FN", textValue("Dr. Zoë Ørsted, the elder; " + repeat("très long ", 12)));
  card.add("N", structuredValue({{"Ørsted, Sr.; the elder"}, {"Zoë"}, {"Anne", "Marie"}, {"Dr."}, {"PhD"}}));
  card.add("NOTE", textValue("Line one\nLine two, with; all \\ sorts " + repeat("日本", 40)));
  Property &adr = card.add(
      "ADR",
      structuredValue(
          {{"PO 1"}, {"Bâtiment B; 2e"}, {"Rue de l'Église 3"}, {"Paris"}, {}, {"75001"}, {"France"}}));
  adr.setParam("TYPE", {"work", "Ferienhaus am See"});
  adr.setParam("PREF", {"1"});
  adr.setParam("LABEL", {"Rue de l'Église 3\n75001 \"Paris\"; ^ France"});
  card.add("PHOTO", "data:image/png;base64," + repeat("QUJD", 40));
  card.add("X-CUSTOM", "a,b;c\\,d").group = "item7";

  for (Version version : {Version::v3, Version::v4}) {
    SCOPED_TRACE(version == Version::v3 ? "3.0" : "4.0");
    ReadResult once = readCards(writeCard(card, version));
    ASSERT_TRUE(once.errors.empty());
    ASSERT_EQ(once.cards.size(), 1u);
    std::vector<std::string> props = rendered(once.cards[0]);
    if (version == Version::v4) {
      EXPECT_EQ(props, rendered(card));
    }
    // Written again in the same version, nothing changes at all.
    EXPECT_EQ(writeCard(once.cards[0], version), writeCard(card, version));
    std::string mediaType, data;
    ASSERT_TRUE(once.cards[0].find("PHOTO")->binaryData(mediaType, data));
    EXPECT_EQ(mediaType, "image/png");
    EXPECT_EQ(data, repeat("QUJD", 40));
    EXPECT_EQ(once.cards[0].find("ADR")->preference(), 1);
  }
}
