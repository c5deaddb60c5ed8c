// The scanner filters read cards with: folded lines, groups, quoted parameter values holding
// ':' ';' ',', escapes, and bare vCard 2.1 types, each row one content line as clients write it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VCardText.h"

namespace {

struct Row {
  const char *name;
  std::string line;  // one content line, possibly folded, with its CRLF
  std::string property;
  std::string params;  // "NAME=v1|v2;NAME2=v" as scanned
  std::string value;
};

std::string Params(const carddav::VCardProperty &property) {
  std::string out;
  for (const auto &param : property.params) {
    if (!out.empty()) out += ";";
    out += param.first + "=";
    for (size_t i = 0; i < param.second.size(); ++i) out += (i ? "|" : "") + param.second[i];
  }
  return out;
}

TEST(VCardText, ContentLinesAsClientsWriteThem) {
  const Row rows[] = {
      {"plain", "FN:Alice\r\n", "FN", "", "Alice"},
      {"lower-case name", "fn:Alice\r\n", "FN", "", "Alice"},
      {"group prefix", "item1.EMAIL;type=INTERNET:a@example.com\r\n", "EMAIL", "TYPE=INTERNET",
       "a@example.com"},
      {"folded with a space and a tab", "NOTE:one \r\n two\r\n\tthree\r\n", "NOTE", "", "one twothree"},
      {"LF line ends", "NOTE:a\n b\n", "NOTE", "", "ab"},
      {"escapes", "NOTE:a\\, b\\; c\\\\ d\\nnext\\Nlast\r\n", "NOTE", "", "a, b; c\\ d\nnext\nlast"},
      {"structured value keeps its separators", "N:Doe;John;;Dr.;\r\n", "N", "", "Doe;John;;Dr.;"},
      {"list of parameter values", "TEL;TYPE=work,voice;PREF=1:+1 555\r\n", "TEL", "TYPE=work|voice;PREF=1",
       "+1 555"},
      {"quoted value with ':' ';' ','", "X-A;LABEL=\"a:b;c,d\":v\r\n", "X-A", "LABEL=a:b;c,d", "v"},
      {"vCard 2.1 bare type", "TEL;WORK;VOICE:123\r\n", "TEL", "TYPE=WORK;TYPE=VOICE", "123"},
      {"value with colons", "URL:https://example.com:8080/x\r\n", "URL", "", "https://example.com:8080/x"},
      {"empty value", "NICKNAME:\r\n", "NICKNAME", "", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string text = "BEGIN:VCARD\r\n" + row.line + "END:VCARD\r\n";
    std::vector<carddav::VCardProperty> seen;
    carddav::scanVCard(text, [&](const carddav::VCardProperty &property) { seen.push_back(property); });
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(row.property, seen[1].name);
    EXPECT_EQ(row.params, Params(seen[1]));
    EXPECT_EQ(row.value, seen[1].value);
    EXPECT_EQ(row.line, text.substr(seen[1].begin, seen[1].end - seen[1].begin));
  }
}

TEST(VCardText, SelectedPropertiesKeepTheirLinesAsWritten) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:x\r\nFN:Al\r\n ice\r\nitem1.EMAIL;TYPE=work:a@example.com\r\n"
      "NOTE:secret\r\nEND:VCARD\r\n";
  EXPECT_EQ("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Al\r\n ice\r\nitem1.EMAIL;TYPE=work:\r\nEND:VCARD\r\n",
            carddav::selectProperties(card, {{"FN", false}, {"EMAIL", true}}));
  EXPECT_EQ(4, carddav::declaredVersion(card));
  EXPECT_EQ(3, carddav::declaredVersion("BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n"));
}

}  // namespace
