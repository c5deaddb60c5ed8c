// Whole runs of bookconvert on generated archives: what it prints, its exit status, and
// what the shared book holds afterwards, read back through libKindex.
#include <gtest/gtest.h>
#include <algorithm>
#include "ConvertFixture.h"

namespace convert_test {
namespace {

struct RunCase {
  const char *title;
  const char *description;  // see the generator's BookDescription.h
  int groups;
  int people;
  std::vector<std::string> warnings;  // lines on standard error, "%s" for the archive's path
  std::vector<std::string> book;      // see BookDump.h
};

std::ostream &operator<<(std::ostream &out, const RunCase &c) {
  return out << c.title;
}

// clang-format off
const RunCase runCases[] = {
  {"two groups of three, every row of the name rule",
   R"({ groups = (
        { name = Friends; entries = (
            { name = "Alpha Beta"; email = "alpha@example.org"; },
            { name = "Beta, Alpha"; email = "beta@example.org"; },
            { name = "Omega"; email = "omega@example.org"; } ); },
        { name = Work; entries = (
            { name = ""; email = "nobody@example.org"; },
            { email = "absent@example.org"; },
            { name = "Alpha Gamma Delta Beta"; email = "agdb@example.org"; } ); } ); })",
   2, 6, {},
   {"G Friends [Alpha / Beta,  Alpha / Beta, ~ / Omega]",
    "G Work [nobody@example.org / UNKNOWN, absent@example.org / UNKNOWN, Alpha Gamma Delta / Beta]",
    "P  Alpha / Beta <work:beta@example.org>",
    "P Alpha / Beta <work:alpha@example.org>",
    "P Alpha Gamma Delta / Beta <work:agdb@example.org>",
    "P absent@example.org / UNKNOWN <work:absent@example.org>",
    "P nobody@example.org / UNKNOWN <work:nobody@example.org>",
    "P ~ / Omega <work:omega@example.org>"}},
  {"an empty book", "{ groups = (); }", 0, 0, {}, {}},
  {"a book whose groups are absent", "{ }", 0, 0, {}, {}},
  {"groups without entries and without a name",
   R"({ groups = ( { name = Empty; entries = (); }, { name = NoList; }, { entries = (); } ); })",
   3, 0, {}, {"G Empty []", "G NoList []", "G ~ []"}},
  {"an entry with neither name nor e-mail",
   R"({ groups = ( { name = G; entries = ( { } ); } ); })",
   1, 1, {}, {"G G [~ / UNKNOWN]", "P ~ / UNKNOWN <>"}},
  {"one entry shared by two groups becomes two persons",
   R"({ groups = (
        { name = A; entries = ( { id = shared; name = "Alpha Beta"; email = "a@example.org"; } ); },
        { name = B; entries = ( { ref = shared; } ); } ); })",
   2, 2, {},
   {"G A [Alpha / Beta]", "G B [Alpha / Beta]", "P Alpha / Beta <work:a@example.org>",
    "P Alpha / Beta <work:a@example.org>"}},
  {"a Group among entries, an Address among groups",
   R"({ groups = (
        { name = Outer; entries = (
            { name = "Alpha Beta"; email = "a@example.org"; },
            { class = Group; name = Inner; entries = ( { name = "Gamma Delta"; email = "g@example.org"; } ); } ); },
        { class = Address; name = "Loner"; email = "l@example.org"; } ); })",
   2, 3, {},
   {"G Inner [Gamma / Delta]", "G Outer [Alpha / Beta, G Inner]",
    "P Alpha / Beta <work:a@example.org>", "P Gamma / Delta <work:g@example.org>",
    "P ~ / Loner <work:l@example.org>"}},
  {"non-ASCII names and group names",
   R"({ groups = ( { name = "Café ☕"; entries = (
        { name = "Zoë Ångström"; email = "zoë@example.org"; },
        { name = "Müller, Jürgen"; email = "j@example.org"; },
        { name = "😀 𝔅𝔢𝔱𝔞"; email = "e@example.org"; } ); } ); })",
   1, 3, {},
   {"G Café ☕ [Zoë / Ångström,  Jürgen / Müller, 😀 / 𝔅𝔢𝔱𝔞]",
    "P  Jürgen / Müller <work:j@example.org>", "P Zoë / Ångström <work:zoë@example.org>",
    "P 😀 / 𝔅𝔢𝔱𝔞 <work:e@example.org>"}},
  {"elements of other classes are skipped, one line per class",
   R"({ groups = (
        { name = G; entries = (
            { class = String; value = x; },
            { name = "Alpha Beta"; email = "a@example.org"; },
            { class = AddressBook; groups = ( { name = Hidden; } ); },
            { class = String; value = y; } ); },
        { class = String; value = z; } ); })",
   1, 1,
   {"Warning: '%s': skipped 3 elements of class NSString",
    "Warning: '%s': skipped 1 element of class AddressBook"},
   {"G G [Alpha / Beta]", "P Alpha / Beta <work:a@example.org>"}},
  {"a Group as the root is converted and saved",
   R"({ class = Group; name = Solo; entries = ( { name = "Alpha Beta"; email = "a@example.org"; } ); })",
   1, 1, {}, {"G Solo [Alpha / Beta]", "P Alpha / Beta <work:a@example.org>"}},
  {"an Address as the root is converted and saved",
   R"({ class = Address; name = "Alpha Beta"; email = "a@example.org"; })",
   0, 1, {}, {"P Alpha / Beta <work:a@example.org>"}},
};
// clang-format on

class ConvertRun : public ConvertFixture, public ::testing::WithParamInterface<RunCase> {};

std::string Lines(const std::vector<std::string> &lines, const std::string &path) {
  std::string text;
  for (const std::string &line : lines) {
    std::string expanded = line;
    auto at = expanded.find("%s");
    if (at != std::string::npos) expanded.replace(at, 2, path);
    text += expanded + "\n";
  }
  return text;
}

TEST_P(ConvertRun, PrintsCountsAndStoresTheBook) {
  const RunCase &c = GetParam();
  std::string path = archive(c.description);
  ProgramResult run = convert(path);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, convertedOutput(path, c.groups, c.people));
  EXPECT_EQ(run.error, Lines(c.warnings, path));
  EXPECT_EQ(book(), c.book);
}

INSTANTIATE_TEST_SUITE_P(Books, ConvertRun, ::testing::ValuesIn(runCases));

using ConvertRuns = ConvertFixture;

// Nothing is looked up: a second run of the same archive adds everything again.
TEST_F(ConvertRuns, EveryRunAddsNewRecords) {
  std::string path = archive(
      R"({ groups = ( { name = A; entries = ( { name = "Alpha Beta"; email = "a@x.org"; } ); } ); })");
  ASSERT_EQ(convert(path).status, 0);
  ProgramResult second = convert(path);
  EXPECT_EQ(second.output, convertedOutput(path, 1, 1));
  EXPECT_EQ(book(),
            (std::vector<std::string>{"G A [Alpha / Beta]", "G A [Alpha / Beta]",
                                      "P Alpha / Beta <work:a@x.org>", "P Alpha / Beta <work:a@x.org>"}));
}

// A group larger than the converter's batches of entries keeps every member.
TEST_F(ConvertRuns, LargeGroupKeepsEveryMember) {
  std::string path = syntheticArchive(2, 700);
  ProgramResult run = convert(path);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, convertedOutput(path, 2, 1400));
  std::vector<std::string> lines = book();
  ASSERT_EQ(lines.size(), 1402u);
  for (int g = 0; g < 2; g++) {
    const std::string &group = lines[g];
    ASSERT_EQ(group.rfind("G Group ", 0), 0u) << group;
    EXPECT_EQ(std::count(group.begin(), group.end(), ','), 699) << "members of " << group.substr(0, 12);
  }
}

TEST_F(ConvertRuns, WrongArgumentCountsPrintUsageOnly) {
  const std::vector<std::vector<std::string>> wrong = {{}, {"a.archive", "b.archive"}, {"a", "b", "c"}};
  for (const auto &arguments : wrong) {
    ProgramResult run = runConverter(arguments);
    EXPECT_EQ(run.status, 255) << arguments.size() << " arguments";
    EXPECT_EQ(run.output, "") << arguments.size() << " arguments";
    // The invocation name comes unchanged, directory and all.
    EXPECT_EQ(run.error, std::string("Usage: ") + BOOKCONVERT_PATH + " PATH_TO_GNUMAIL_ADDRESS_BOOK\n");
  }
  EXPECT_EQ(book(), std::vector<std::string>{"no book"});
}

}  // namespace
}  // namespace convert_test
