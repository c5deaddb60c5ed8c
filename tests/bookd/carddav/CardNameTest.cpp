// Names made from uids: any uid gives a valid name and gets itself back, and a name has one
// reading only, so that two spellings never lead to one record.
#include <gtest/gtest.h>

#include "CardName.h"
#include "DavPath.h"

namespace {

TEST(CardName, UidsRoundTripThroughNames) {
  const struct {
    std::string uid;
    std::string name;
  } rows[] = {
      {"0190c4a2-1b3c-7d4e-8f90-a1b2c3d4e5f6", "0190c4a2-1b3c-7d4e-8f90-a1b2c3d4e5f6.vcf"},
      {"urn:uuid:abc", "urn:uuid:abc.vcf"},
      {"a/b", "a%2Fb.vcf"},
      {"100%", "100%25.vcf"},
      {"line\nbreak\x7f", "line%0Abreak%7F.vcf"},
      {"m\xC3\xBCnchen", "m\xC3\xBCnchen.vcf"},
      {".", "..vcf"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.uid);
    EXPECT_EQ(row.name, carddav::nameOfUid(row.uid));
    EXPECT_TRUE(carddav::validCardName(row.name));
    std::string uid;
    ASSERT_TRUE(carddav::uidOfName(row.name, &uid));
    EXPECT_EQ(row.uid, uid);
  }
}

TEST(CardName, OtherSpellingsAreNoUidsName) {
  for (const std::string name :
       {"a%2fb.vcf", "%41.vcf", "a%2F", "a%2.vcf", "a%zz.vcf", ".vcf", "a.VCF", "a"}) {
    std::string uid;
    EXPECT_FALSE(carddav::uidOfName(name, &uid)) << name;
  }
}

TEST(CardName, HashedNamesFitAndDiffer) {
  const std::string longUid(1000, 'x'), other = longUid + "y";
  std::string umlauts, slashes(300, '/');
  for (int i = 0; i < 200; i++) umlauts += "\xC3\xBC";
  // Cut short, a name stays whole UTF-8 and whole escapes.
  for (const std::string &uid :
       {longUid, other, umlauts, std::string("x") + umlauts, slashes, std::string("short")}) {
    const std::string name = carddav::hashedName(uid);
    EXPECT_TRUE(carddav::validCardName(name)) << name;
    EXPECT_TRUE(carddav::looksHashed(name)) << name;
    EXPECT_EQ(std::string::npos, name.find('%', name.size() - 23)) << name;
  }
  EXPECT_NE(carddav::hashedName(longUid), carddav::hashedName(other));
  EXPECT_FALSE(carddav::looksHashed("plain.vcf"));
}

}  // namespace
