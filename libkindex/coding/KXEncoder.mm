// Writes the coding described in KXCodec.h.
#import "coding/KXCodec.h"
#import "KXPrivate.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kx {

namespace {

size_t encodeVarint(char *buffer, uint64_t n) {
  size_t used = 0;
  while (n >= 0x80) {
    buffer[used++] = static_cast<char>((n & 0x7f) | 0x80);
    n >>= 7;
  }
  buffer[used++] = static_cast<char>(n);
  return used;
}

void putVarint(std::string *out, uint64_t n) {
  char buffer[10];
  out->append(buffer, encodeVarint(buffer, n));
}

// Appends text as UTF-8, converting from its UTF-16 units here: no temporary objects, which
// matters when a save codes 100,000 records. A lone surrogate becomes U+FFFD.
void appendUTF8(std::string *out, NSString *text, NSUInteger units, size_t *length) {
  unichar small[256];
  std::vector<unichar> large;
  unichar *chars = small;
  if (units > 256) {
    large.resize(units);
    chars = large.data();
  }
  [text getCharacters:chars range:NSMakeRange(0, units)];
  size_t start = out->size();
  out->resize(start + units * 3);
  char *p = &(*out)[start];
  for (NSUInteger i = 0; i < units; i++) {
    uint32_t c = chars[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xd800 && c <= 0xdbff && i + 1 < units && chars[i + 1] >= 0xdc00 && chars[i + 1] <= 0xdfff) {
      c = 0x10000 + ((c - 0xd800) << 10) + (chars[++i] - 0xdc00);
    } else if (c >= 0xd800 && c <= 0xdfff) {
      c = 0xfffd;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xc0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xe0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      *p++ = static_cast<char>(0x80 | (c & 0x3f));
    } else {
      // A surrogate pair: two units in, four bytes out, within the three bytes a unit may use.
      *p++ = static_cast<char>(0xf0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      *p++ = static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  out->resize(p - out->data());
  *length = out->size() - start;
}

// Writes length:varint then the bytes, with `extra` added to the length (1 for opttext).
// The length is known only after the bytes: leave room for the longest varint the text could
// need (a UTF-16 unit takes at most three bytes), then close the gap when it is shorter.
// Texts of up to 42 units, that is nearly all, never need to close one.
void putCounted(std::string *out, NSString *text, uint64_t extra) {
  NSUInteger units = [text length];
  uint64_t longest = static_cast<uint64_t>(units) * 3 + extra;
  char prefix[10];
  const size_t reserved = encodeVarint(prefix, longest);
  size_t mark = out->size();
  out->append(reserved, '\0');
  size_t length = 0;
  appendUTF8(out, text, units, &length);
  size_t used = encodeVarint(prefix, length + extra);
  if (used < reserved) out->erase(mark, reserved - used);
  std::memcpy(&(*out)[mark], prefix, used);
}

void putText(std::string *out, NSString *text) {
  putCounted(out, text, 0);
}

void putOptText(std::string *out, NSString *text) {
  if (text == nil) {
    putVarint(out, 0);
  } else {
    putCounted(out, text, 1);
  }
}

// Anything stored that is not a string is, by the checks done when it was stored, a
// dictionary of strings (an item) or a multi-value (a value).
bool isString(id object) {
  return [object isKindOfClass:stringClass()];
}

// Sorted keys: the same dictionary always codes to the same bytes. An attribute dictionary
// holds a few keys and a save codes one for nearly every entry: those are sorted in place,
// without a sorted copy of their keys.
void putPairs(std::string *out, NSDictionary *pairs) {
  NSUInteger count = [pairs count];
  putVarint(out, count);
  if (count > 16) {
    NSArray *sorted = [[pairs allKeys] sortedArrayUsingSelector:@selector(compare:)];
    for (NSUInteger k = 0; k < count; k++) {
      putText(out, [sorted objectAtIndex:k]);
      putText(out, [pairs objectForKey:[sorted objectAtIndex:k]]);
    }
    return;
  }
  id keys[16], values[16];
  [pairs getObjects:values andKeys:keys];
  for (NSUInteger i = 1; i < count; i++) {
    for (NSUInteger j = i; j > 0 && [keys[j] compare:keys[j - 1]] == NSOrderedAscending; j--) {
      std::swap(keys[j], keys[j - 1]);
      std::swap(values[j], values[j - 1]);
    }
  }
  for (NSUInteger k = 0; k < count; k++) {
    putText(out, keys[k]);
    putText(out, values[k]);
  }
}

void putItem(std::string *out, id item) {
  if (isString(item)) {
    out->push_back(static_cast<char>(kString));
    putText(out, item);
    return;
  }
  out->push_back(static_cast<char>(kDictionary));
  putPairs(out, item);
}

void putValue(std::string *out, id value) {
  if (isString(value)) {
    out->push_back(static_cast<char>(kString));
    putText(out, value);
    return;
  }
  NSUInteger primary = 0;
  const KXEntryList &entries = KXMultiValueEntries(value, &primary);
  bool attributed = false;
  for (const KXEntryList::Item &entry : entries) attributed = attributed || entry.attributes != nil;
  out->push_back(static_cast<char>(attributed ? kAttributedMulti : kMulti));
  putVarint(out, primary);
  putVarint(out, entries.count);
  for (const KXEntryList::Item &entry : entries) {
    putText(out, entry.identifier);
    putOptText(out, entry.label);
    putItem(out, entry.value);
    if (attributed) {
      if (entry.attributes != nil) {
        putPairs(out, entry.attributes);
      } else {
        putVarint(out, 0);
      }
    }
  }
}

}  // namespace

void encodeRecord(const KXValueList &values, NSArray *members, std::string *out) {
  putVarint(out, values.count);
  for (const KXValueList::Item &item : values) {
    putText(out, item.key);
    putValue(out, item.value);
  }
  NSUInteger memberCount = [members count];
  putVarint(out, memberCount);
  for (NSUInteger i = 0; i < memberCount; i++) putText(out, [members objectAtIndex:i]);
}

void encodeRecord(KXRecord *record, std::string *out) {
  encodeRecord([record _values], [record _kind] == KXRecordKindGroup ? [(KXGroup *)record _memberIds] : nil,
               out);
}

NSData *encodeValue(id value) {
  std::string out;
  if (value != nil) putValue(&out, value);
  return [NSData dataWithBytes:out.data() length:out.size()];
}

void BatchWriter::add(KXRecord *record) {
  one_.clear();
  encodeRecord(record, &one_);
  addCoded([record uniqueId], [record _kind]);
}

void BatchWriter::add(NSString *uid, int kind, const KXValueList &values, NSArray *members) {
  one_.clear();
  encodeRecord(values, members, &one_);
  addCoded(uid, kind);
}

void BatchWriter::addCoded(NSString *uid, int kind) {
  putText(&records_, uid);
  putVarint(&records_, static_cast<uint64_t>(kind));
  putVarint(&records_, one_.size());
  records_.append(one_);
  count_++;
}

// The count goes first, and is known last.
NSData *BatchWriter::finish() {
  char prefix[10];
  size_t length = encodeVarint(prefix, count_);
  NSMutableData *data = [NSMutableData dataWithCapacity:length + records_.size()];
  [data appendBytes:prefix length:length];
  [data appendBytes:records_.data() length:records_.size()];
  return data;
}

NSData *encodeBatch(NSArray *records) {
  BatchWriter batch;
  NSUInteger count = [records count];
  for (NSUInteger i = 0; i < count; i++) batch.add([records objectAtIndex:i]);
  return batch.finish();
}

void writeBytes(NSCoder *coder, const std::string &bytes) {
  if ([coder allowsKeyedCoding]) {
    [coder encodeBytes:reinterpret_cast<const uint8_t *>(bytes.data()) length:bytes.size() forKey:@"KXBytes"];
    return;
  }
  unsigned length = static_cast<unsigned>(bytes.size());
  [coder encodeValueOfObjCType:@encode(unsigned) at:&length];
  if (length > 0) [coder encodeArrayOfObjCType:@encode(unsigned char) count:length at:bytes.data()];
}

}  // namespace kx
