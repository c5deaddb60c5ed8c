// Stored rows and the batches a peer sends are decoded from bytes nobody vouches for: every
// malformed input must give nil, never a crash, an over-read or a half-made record.
#include "BookTest.h"
#import "coding/KXCodec.h"

#include <sqlite3.h>

class CodecTest : public BookTest {
 protected:
  static NSData *bytes(const std::string &b) { return [NSData dataWithBytes:b.data() length:b.size()]; }
};

TEST_F(CodecTest, MalformedBytesAreRefused) {
  const std::string uid = "u";
  // clang-format off
  struct Row { const char *what; std::string value; std::string record; } rows[] = {
    {"empty record", "", ""},
    {"unknown value tag", std::string("\x07", 1), std::string("\x01\x01k\x07", 4)},
    {"text longer than the input", std::string("\x01\x05" "ab", 4), std::string("\x01\x01k\x01\x05" "ab", 7)},
    {"varint running off the end", std::string("\x01\xff\xff", 3), std::string("\x01\xff\xff", 3)},
    {"count larger than the input", std::string("\x02\x00\xff\xff\x03", 5), std::string("\xff\xff\xff\x7f", 4)},
    {"invalid UTF-8", std::string("\x01\x02\xc3\x28", 4), std::string("\x01\x02\xc3\x28\x01\x00\x00", 7)},
    {"trailing bytes", std::string("\x01\x01" "a!", 4), std::string("\x00\x00!", 3)},
    {"multi-value entry with an unknown item tag", std::string("\x02\x00\x01\x01i\x00\x09", 7),
     std::string("\x01\x01k\x02\x00\x01\x01i\x00\x09\x00", 12)},
  };
  // clang-format on
  for (const Row &row : rows) {
    id value = @"untouched";
    if (!row.value.empty()) {
      EXPECT_FALSE(kx::decodeValue(bytes(row.value), &value)) << row.what;
    }
    KXRecord *record = kx::decodeRecord(KXRecordKindPerson, @"u", row.record.data(), row.record.size());
    EXPECT_TRUE(record == nil) << row.what;
    [record release];
    std::string batch = std::string("\x01\x01u\x01", 4) + static_cast<char>(row.record.size()) + row.record;
    EXPECT_TRUE(kx::decodeBatch(bytes(batch), nil, NO) == nil) << row.what;
  }
  KXRecord *unknownKind = kx::decodeRecord(7, @"u", "\x00\x00", 2);
  EXPECT_TRUE(unknownKind == nil);
  EXPECT_TRUE(kx::decodeBatch(bytes(std::string("\x05", 1)), nil, NO) == nil) << "more records than bytes";
}

TEST_F(CodecTest, ABatchComesBackWhole) {
  KXPerson *p = person(@"Zoë", @"Ångström", @"z@example.org");
  KXMutableMultiValue *addresses = [[[KXMutableMultiValue alloc] init] autorelease];
  [addresses addValue:[NSDictionary dictionaryWithObject:@"北京" forKey:KXAddressCityKey]
            withLabel:KXAddressHomeLabel];
  [p setValue:addresses forProperty:KXAddressProperty];
  NSArray *back = kx::decodeBatch(kx::encodeBatch([NSArray arrayWithObjects:p, group(@"G"), nil]), nil, YES);
  ASSERT_EQ(2u, [back count]);
  KXRecord *q = [back objectAtIndex:0];
  EXPECT_EQ(S([p uniqueId]), S([q uniqueId]));
  EXPECT_TRUE([q isReadOnly]);
  EXPECT_TRUE([[p valueForProperty:KXAddressProperty] isEqual:[q valueForProperty:KXAddressProperty]]);
  EXPECT_EQ(S(@"Ångström"), S([q valueForProperty:KXLastNameProperty]));
  EXPECT_TRUE([[back objectAtIndex:1] isKindOfClass:[KXGroup class]]);
}

TEST_F(CodecTest, AnUnreadableStoredRecordIsSkippedAndLeftAsItIs) {
  KXLocalAddressBook *book = newBook();
  KXPerson *good = person(@"Good", nil, nil);
  [book addRecord:good];
  ASSERT_TRUE([book save]);
  std::string store = S([book location]) + "/book.sqlite";
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(store.c_str(), &db));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(db, "INSERT INTO records(uid, kind, data, seq) VALUES('bad', 1, x'01ff', 1)",
                         nullptr, nullptr, nullptr));
  sqlite3_close(db);

  KXLocalAddressBook *again = reopen(book);
  ASSERT_TRUE(again != nil);
  EXPECT_EQ(1u, [[again people] count]);
  [again addRecord:person(@"New", nil, nil)];
  ASSERT_TRUE([again save]);
  ASSERT_EQ(SQLITE_OK, sqlite3_open(store.c_str(), &db));
  sqlite3_stmt *stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT hex(data) FROM records WHERE uid = 'bad'", -1, &stmt, nullptr);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
  EXPECT_EQ("01FF", std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}
