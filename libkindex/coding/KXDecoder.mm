// Reads the coding described in KXCodec.h; anything malformed gives nil, never a guess.
#import "coding/KXCodec.h"
#import "KXPrivate.h"
#import "records/UniqueId.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kx {

// The library's own ids come back as KXIdStrings. Of other texts, GNUstep keeps the
// characters of a string made from a C string inside the string object, where a string made
// from bytes gets a second allocation for them: short ASCII texts (names, addresses: nearly
// all of a book) go the first way; the rest, and any text with a NUL inside, the second.
NSString *newString(const void *bytes, size_t length) {
  if (length == kUniqueIdLength) {
    NSString *uid = KXIdStringFromText(bytes, length);
    if (uid != nil) return uid;
  }
  const unsigned char *p = static_cast<const unsigned char *>(bytes);
  if (length < 256) {
    bool ascii = true;
    for (size_t i = 0; i < length; i++) ascii = ascii && p[i] != 0 && p[i] < 0x80;
    if (ascii) {
      char text[256];
      std::memcpy(text, p, length);
      text[length] = '\0';
      return [[stringClass() alloc] initWithUTF8String:text];
    }
  }
  return [[stringClass() alloc] initWithBytes:p length:length encoding:NSUTF8StringEncoding];
}

namespace {

// Property keys, labels and address keys come from a small set, and every record repeats
// them: one shared string per text rather than one per use keeps 24 of 88 MiB off the heap
// of a reopened book of 100,000 persons (bench/libkindex, "heap held").
//
// Why sharing is safe: the table maps the UTF-8 bytes of a text to the immutable string
// decoded from them, and retains that string for the life of the process (entries are never
// removed or replaced), so what it hands out is always alive and always equal to what a fresh
// decoding would give. Only texts of up to 64 bytes are kept, and at most 1,024 of them: a
// book full of odd labels cannot make it grow without bound, its texts are just not shared.
// The lock is there because books on several threads may decode at once.
//
// The library's own texts (KXProperties.h) are in the table from the start as the constants
// themselves, so that a decoded record's keys are the very objects callers look values up by:
// a lookup then matches by address, not by comparing texts.
std::unordered_map<std::string, NSString *> seededWithLibraryStrings() {
  std::unordered_map<std::string, NSString *> known;
  for (NSString *text : libraryStrings()) known.emplace([text UTF8String], text);
  return known;
}

NSString *newSharedString(const unsigned char *bytes, size_t length) {
  static std::mutex lock;
  static std::unordered_map<std::string, NSString *> known = seededWithLibraryStrings();
  if (length > 64) return newString(bytes, length);
  std::string key(reinterpret_cast<const char *>(bytes), length);
  {
    std::lock_guard<std::mutex> guard(lock);
    auto it = known.find(key);
    if (it != known.end()) return [it->second retain];
  }
  NSString *text = newString(bytes, length);
  if (text != nil) {
    std::lock_guard<std::mutex> guard(lock);
    if (known.size() < 1024 && known.emplace(key, text).second) [text retain];
  }
  return text;
}

// Reads from a byte range; any read past the end or malformed item sets failed.
struct Reader {
  const unsigned char *p;
  const unsigned char *end;
  bool failed = false;

  uint64_t varint() {
    uint64_t n = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (p >= end) break;
      unsigned char byte = *p++;
      n |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return n;
    }
    failed = true;
    return 0;
  }

  unsigned char byte() {
    if (p >= end) {
      failed = true;
      return 0;
    }
    return *p++;
  }

  // A count of items that each take at least one byte: bounded by what is left.
  uint64_t count() {
    uint64_t n = varint();
    if (n > static_cast<uint64_t>(end - p)) failed = true;
    return failed ? 0 : n;
  }

  // The texts below are retained (the caller releases); nil on failure (and on invalid UTF-8).
  NSString *ownedTextOfLength(uint64_t length, bool shared) {
    if (failed || length > static_cast<uint64_t>(end - p)) {
      failed = true;
      return nil;
    }
    NSString *text = shared ? newSharedString(p, length) : newString(p, length);
    p += length;
    if (text == nil) failed = true;
    return text;
  }

  NSString *ownedText() { return ownedTextOfLength(varint(), false); }

  // A key or a label: see newSharedString.
  NSString *ownedSharedText() { return ownedTextOfLength(varint(), true); }

  NSString *ownedOptSharedText() {
    uint64_t n = varint();
    if (failed || n == 0) return nil;
    return ownedTextOfLength(n - 1, true);
  }
};

// Each read* gives a retained object (the caller releases), or nil with r->failed set.
// Pairs of key and text: an address's parts, an entry's attributes. Keys are few and shared.
NSDictionary *readPairs(Reader *r) {
  uint64_t n = r->count();
  NSMutableDictionary *dict = [[NSMutableDictionary alloc] initWithCapacity:n];
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *key = r->ownedSharedText();
    NSString *item = r->ownedText();
    if (!r->failed) [dict setObject:item forKey:key];
    [key release];
    [item release];
  }
  if (r->failed) {
    [dict release];
    return nil;
  }
  NSDictionary *frozen = [dict copy];
  [dict release];
  return frozen;
}

id readItem(Reader *r) {
  unsigned char tag = r->byte();
  if (tag == kString) return r->ownedText();
  if (tag != kDictionary) {
    r->failed = true;
    return nil;
  }
  return readPairs(r);
}

// Entries' attributes are nearly always one of a few ({TYPE = "INTERNET,WORK"}, ...), and a
// book holds several entries per person: one shared dictionary per coded form rather than one
// per entry keeps some 100 MiB off the heap of a book of 100,000 persons served over CardDAV
// (bench/bookd "peak RSS").
//
// Why sharing is safe: as for newSharedString. The table maps an attribute list's coded bytes
// to the immutable dictionary decoded from them, retained for the life of the process and
// never replaced, and an entry's attributes are only ever replaced, never changed in place.
// Only codings of up to 128 bytes are kept, and at most 1,024 of them.
NSDictionary *sharedAttributes(NSDictionary *decoded, const unsigned char *bytes, size_t length) {
  static std::mutex lock;
  static std::unordered_map<std::string, NSDictionary *> known;
  if (length > 128) return decoded;
  std::string key(reinterpret_cast<const char *>(bytes), length);
  std::lock_guard<std::mutex> guard(lock);
  auto it = known.find(key);
  if (it != known.end()) {
    [decoded release];
    return [it->second retain];
  }
  if (known.size() < 1024 && known.emplace(key, decoded).second) [decoded retain];
  return decoded;
}

// Attributes: nil for none (a count of 0).
NSDictionary *readAttributes(Reader *r) {
  const unsigned char *start = r->p;
  NSDictionary *pairs = readPairs(r);
  if (pairs != nil && [pairs count] == 0) {
    [pairs release];
    return nil;
  }
  return pairs != nil ? sharedAttributes(pairs, start, r->p - start) : nil;
}

id readValue(Reader *r) {
  unsigned char tag = r->byte();
  if (tag == kString) return r->ownedText();
  if (tag != kMulti && tag != kAttributedMulti) {
    r->failed = true;
    return nil;
  }
  uint64_t primary = r->varint();
  uint64_t n = r->count();
  if (primary >= (n > 0 ? n : 1)) r->failed = true;
  KXEntryList *entries = KXEntryList::make(n);
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *identifier = r->ownedText();
    NSString *label = r->ownedOptSharedText();
    id item = r->failed ? nil : readItem(r);
    NSDictionary *attributes = r->failed || tag != kAttributedMulti ? nil : readAttributes(r);
    if (!r->failed) {
      KXEntryList::insert(entries, entries->count, {identifier, label, item, attributes});
    } else {
      [identifier release];
      [label release];
      [item release];
      [attributes release];
    }
  }
  if (r->failed) {
    KXEntryList::destroy(entries);
    return nil;
  }
  return [[multiValueClass() alloc] _initAdoptingEntries:entries
                                                 primary:(n > 0 ? (*entries)[primary].identifier : nil)];
}

BOOL readRecord(Reader *r, KXValueList **values, NSMutableArray *members) {
  uint64_t n = r->count();
  *values = KXValueList::make(n);
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *key = r->ownedSharedText();
    id value = r->failed ? nil : readValue(r);
    if (!r->failed) {
      KXValueList::adopt(*values, key, value);
    } else {
      [key release];
      [value release];
    }
  }
  uint64_t m = r->count();
  for (uint64_t i = 0; i < m && !r->failed; i++) {
    NSString *uid = r->ownedText();
    if (!r->failed) [members addObject:uid];
    [uid release];
  }
  return !r->failed && r->p == r->end;
}

Class classForKind(int kind) {
  static const Class personClass = [KXPerson class], groupClass = [KXGroup class];
  if (kind == KXRecordKindPerson) return personClass;
  if (kind == KXRecordKindGroup) return groupClass;
  return Nil;
}

}  // namespace

BOOL decodeInto(KXRecord *record, const void *data, size_t length) {
  Reader r{static_cast<const unsigned char *>(data), static_cast<const unsigned char *>(data) + length};
  KXValueList *values = nullptr;
  // A person has no members to keep (nil drops any the data holds).
  const bool group = [record _kind] == KXRecordKindGroup;
  NSMutableArray *members = group ? [[NSMutableArray alloc] init] : nil;
  BOOL ok = readRecord(&r, &values, members);
  if (ok) {
    [record _adoptValues:values];
    if (group) [(KXGroup *)record _adoptMemberIds:members];
  } else {
    KXValueList::destroy(values);
  }
  [members release];
  return ok;
}

KXRecord *decodeRecord(int kind, NSString *uid, const void *data, size_t length) {
  Class cls = classForKind(kind);
  if (cls == Nil || uid == nil) return nil;
  KXRecord *record = [[cls alloc] _initWithUniqueId:uid];
  if (!decodeInto(record, data, length)) {
    [record release];
    return nil;
  }
  return record;
}

BOOL decodeValue(NSData *data, id *value) {
  if (![data isKindOfClass:[NSData class]]) return NO;
  *value = nil;
  if ([data length] == 0) return YES;
  const unsigned char *p = static_cast<const unsigned char *>([data bytes]);
  Reader r{p, p + [data length]};
  id decoded = readValue(&r);
  if (r.failed || r.p != r.end) {
    [decoded release];
    return NO;
  }
  *value = [decoded autorelease];
  return YES;
}

NSArray *decodeBatch(NSData *data, KXAddressBook *book, BOOL readOnly) {
  if (![data isKindOfClass:[NSData class]]) return nil;
  const unsigned char *p = static_cast<const unsigned char *>([data bytes]);
  Reader r{p, p + [data length]};
  uint64_t n = r.count();
  NSMutableArray *records = [NSMutableArray arrayWithCapacity:n];
  for (uint64_t i = 0; i < n && !r.failed; i++) {
    NSString *uid = [r.ownedText() autorelease];
    int kind = static_cast<int>(r.varint());
    uint64_t length = r.varint();
    if (r.failed || length > static_cast<uint64_t>(r.end - r.p)) return nil;
    KXRecord *record = decodeRecord(kind, uid, r.p, length);
    if (record == nil) return nil;
    r.p += length;
    [record _setBook:book retain:YES];
    [record _setReadOnly:readOnly];
    [records addObject:record];
    [record release];
  }
  return r.failed || r.p != r.end ? nil : records;
}

BOOL readBytes(NSCoder *coder, std::string *bytes) {
  if ([coder allowsKeyedCoding]) {
    NSUInteger length = 0;
    const uint8_t *p = [coder decodeBytesForKey:@"KXBytes" returnedLength:&length];
    if (p == nullptr) return NO;
    bytes->assign(reinterpret_cast<const char *>(p), length);
    return YES;
  }
  unsigned length = 0;
  [coder decodeValueOfObjCType:@encode(unsigned) at:&length];
  // A peer can send any length: refuse what no record comes near rather than allocate it.
  if (length > (64u << 20)) return NO;
  bytes->assign(length, '\0');
  if (length > 0) [coder decodeArrayOfObjCType:@encode(unsigned char) count:length at:&(*bytes)[0]];
  return YES;
}

}  // namespace kx
