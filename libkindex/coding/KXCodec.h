/* The compact coding of records and their values, used for the rows of a store and for
 * records and values that cross a Distributed Objects connection. Stored in books: a change
 * here needs a new store version.
 *
 *   record     := count:varint property* members
 *   property   := key:text value
 *   value      := 0x01 text | 0x02 multivalue | 0x04 attributed
 *   multivalue := primary:varint count:varint entry*   -- primary: index of the primary
 *                                                     -- entry; 0 also when none was chosen
 *   attributed := primary:varint count:varint (entry attributes)*
 *                                     -- written only when an entry has attributes, so that
 *                                     -- books without them code as before
 *   entry      := id:text label:opttext item
 *   attributes := count:varint (key:text text)*       -- sorted by key; 0 for none
 *   item       := 0x01 text | 0x03 count:varint (key:text text)*
 *   members    := count:varint uid:text*        -- 0 for persons
 *   batch      := count:varint (uid:text kind:varint length:varint record)*
 *   text       := length:varint utf8-byte*
 *   opttext    := 0 | (length + 1):varint utf8-byte*    -- 0 is nil
 *   varint     := LEB128, 7 bits a byte, low group first
 *
 * Decoders check every length against the bytes they have and give nil on anything malformed.
 * KXEncoder.mm writes, KXDecoder.mm reads.
 */
#ifndef KINDEX_KXCODEC_H
#define KINDEX_KXCODEC_H

#import <Foundation/Foundation.h>
#include <string>

@class KXRecord;
@class KXAddressBook;
struct KXValueList;

namespace kx {

/* The tags of value and item. */
enum : unsigned char { kString = 0x01, kMulti = 0x02, kDictionary = 0x03, kAttributedMulti = 0x04 };

/* A new string (retained, caller releases) of UTF-8 bytes; nil when they are not UTF-8. */
NSString *newString(const void *bytes, size_t length);

void encodeRecord(KXRecord *record, std::string *out);
/* The same for a record that exists only as its parts (a view's merge): values, and members
 * for a group (nil for a person). */
void encodeRecord(const KXValueList &values, NSArray *members, std::string *out);
/* A new record (retained, caller releases) of kind with uid, or nil when data is malformed. */
KXRecord *decodeRecord(int kind, NSString *uid, const void *data, size_t length);
/* Puts the decoded properties and members into an existing record; NO when malformed. */
BOOL decodeInto(KXRecord *record, const void *data, size_t length);

/* A property value (string, multi-value or nil) as bytes, and back. */
NSData *encodeValue(id value);
BOOL decodeValue(NSData *data, id *value);

/* A record or multi-value as one run of bytes in an archive or a port coder: nested
 * collections would cross a connection as proxies, bytes always travel whole. */
void writeBytes(NSCoder *coder, const std::string &bytes);
BOOL readBytes(NSCoder *coder, std::string *bytes);

/* Records in bulk, for one round trip. */
NSData *encodeBatch(NSArray *records);
/* A batch built a record at a time, from record objects or from their parts. */
class BatchWriter {
 public:
  void add(KXRecord *record);
  void add(NSString *uid, int kind, const KXValueList &values, NSArray *members);
  NSData *finish();  // autoreleased

 private:
  void addCoded(NSString *uid, int kind);
  std::string records_, one_;
  uint64_t count_ = 0;
};
/* Records bound to book (retaining it) with the given read-only flag; nil when malformed. */
NSArray *decodeBatch(NSData *data, KXAddressBook *book, BOOL readOnly);

}  // namespace kx

#endif
