// Files as other programs write them (tests/kindex/cards/, one per program or habit) must be
// read whole and written as 3.0 and 4.0 that a third-party reader, python3-vobject, finds to
// say the same; a 4.0 file written and read back must give the same 3.0 again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "TempDir.h"
#include "vcard/VcardReader.h"
#include "vcard/VcardWriter.h"

using namespace vcard;

namespace {

struct Fixture {
  const char *file;
  size_t cards;
  size_t warnings;  // Windows-1252 assumed for text without CHARSET
};

const Fixture kFixtures[] = {
    {"apple-contacts-3.0.vcf", 2, 0},
    {"google-contacts-3.0.vcf", 1, 0},
    {"outlook-2.1.vcf", 1, 0},
    {"android-2.1.vcf", 2, 0},
    {"thunderbird-4.0.vcf", 1, 0},
    {"nextcloud-3.0.vcf", 1, 0},
    {"evolution-3.0.vcf", 2, 0},
    {"nokia-2.1.vcf", 1, 0},
    {"rfc2426-examples.vcf", 3, 0},
    {"rfc6350-examples.vcf", 3, 0},
    {"utf16le-bom.vcf", 1, 0},
    {"utf8-bom.vcf", 1, 0},
    {"latin1.vcf", 1, 1},
    {"blank-lines.vcf", 2, 0},
    {"qp-in-3.0.vcf", 1, 0},
};

std::string writeAll(const ReadResult &read, Version version) {
  std::string out;
  for (const Card &card : read.cards) out += writeCard(card, version);
  return out;
}

// The comparison script's verdict: empty when the files say the same, else its lines.
std::string compare(const std::string &original, const std::vector<std::string> &written) {
  kxtest::ChildProcess python;
  std::vector<std::string> argv = {"python3", VCARD_COMPARE_SCRIPT, original};
  argv.insert(argv.end(), written.begin(), written.end());
  if (!python.start("/usr/bin/python3", argv)) return "could not start /usr/bin/python3";
  if (!python.waitForExit(60)) return "the comparison did not end within 60 s";
  if (python.status() == 0) return std::string();
  if (python.error().find("No module named 'vobject'") != std::string::npos)
    return "python3-vobject is missing: scripts/install-deps installs it";
  return python.output() + python.error();
}

}  // namespace

TEST(VcardFixtures, OtherProgramsFilesSurviveWritingAsThreeAndFour) {
  kxtest::TempDir tmp("vcard-fixtures");
  for (const Fixture &fixture : kFixtures) {
    SCOPED_TRACE(fixture.file);
    std::string path = std::string(VCARD_FIXTURES) + "/" + fixture.file;
    ReadResult read = readCards(kxtest::readFile(path));
    for (const ReadError &error : read.errors)
      ADD_FAILURE() << "line " << error.line << ": " << error.message;
    EXPECT_EQ(read.cards.size(), fixture.cards);
    EXPECT_EQ(read.warnings.size(), fixture.warnings);

    std::string as3 = tmp.file(std::string(fixture.file) + ".3.vcf");
    std::string as4 = tmp.file(std::string(fixture.file) + ".4.vcf");
    std::string back = tmp.file(std::string(fixture.file) + ".4-3.vcf");
    kxtest::writeFile(as3, writeAll(read, Version::v3));
    kxtest::writeFile(as4, writeAll(read, Version::v4));
    ReadResult again = readCards(kxtest::readFile(as4));
    EXPECT_TRUE(again.errors.empty());
    kxtest::writeFile(back, writeAll(again, Version::v3));
    // .3: written as 3.0; .4: as 4.0; .4-3: as 4.0, read back and written as 3.0.
    EXPECT_EQ(compare(path, {as3, as4, back}), "");
  }
}
