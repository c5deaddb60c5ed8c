#import "KXCodec.h"
#import "KXPrivate.h"
#import "KXIdString.h"

#include <cstring>
#include <mutex>
#include <vector>
#include <unordered_map>

namespace kx {

namespace {

enum : unsigned char { kString = 0x01, kMulti = 0x02, kDictionary = 0x03 };

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
  while (n >= 0x80) {
    out->push_back(static_cast<char>((n & 0x7f) | 0x80));
    n >>= 7;
  }
  out->push_back(static_cast<char>(n));
}

// Appends text as UTF-8, converting from its UTF-16 units here: no temporary objects, which
// matters when a save codes 100,000 records. A lone surrogate becomes U+FFFD.
// Nearly every string of a book is of one or two classes: looking their two methods up once
// per class, rather than once per message, takes a third off coding a record.
struct StringMethods {
  Class cls = Nil;
  NSUInteger (*length)(id, SEL) = nullptr;
  void (*getCharacters)(id, SEL, unichar *, NSRange) = nullptr;
};

const StringMethods &methodsOf(NSString *text) {
  static thread_local StringMethods last[2];
  Class cls = object_getClass(text);
  if (last[0].cls == cls) return last[0];
  if (last[1].cls == cls) return last[1];
  last[1] = last[0];
  last[0].cls = cls;
  // IMP is declared variadic; going through a plain function pointer type is the sanctioned cast.
  using Plain = void (*)();
  last[0].length = reinterpret_cast<NSUInteger (*)(id, SEL)>(
      reinterpret_cast<Plain>(class_getMethodImplementation(cls, @selector(length))));
  last[0].getCharacters = reinterpret_cast<void (*)(id, SEL, unichar *, NSRange)>(
      reinterpret_cast<Plain>(class_getMethodImplementation(cls, @selector(getCharacters:range:))));
  return last[0];
}

void appendUTF8(std::string *out, NSString *text, const StringMethods &methods, NSUInteger units, size_t *length) {
  unichar small[256];
  std::vector<unichar> large;
  unichar *chars = small;
  if (units > 256) {
    large.resize(units);
    chars = large.data();
  }
  methods.getCharacters(text, @selector(getCharacters:range:), chars, NSMakeRange(0, units));
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
  const StringMethods &methods = methodsOf(text);
  NSUInteger units = methods.length(text, @selector(length));
  uint64_t longest = static_cast<uint64_t>(units) * 3 + extra;
  char prefix[10];
  const size_t reserved = encodeVarint(prefix, longest);
  size_t mark = out->size();
  out->append(reserved, '\0');
  size_t length = 0;
  appendUTF8(out, text, methods, units, &length);
  size_t used = encodeVarint(prefix, length + extra);
  if (used < reserved) out->erase(mark, reserved - used);
  std::memcpy(&(*out)[mark], prefix, used);
}

// Property keys and labels come from a small set of immutable strings: their coded form is
// kept per string (retained, so that no other string can take its address) and copied.
void putCachedCounted(std::string *out, NSString *text, uint64_t extra) {
  struct Slot {
    NSString *text = nil;
    uint64_t extra = 0;
    std::string coded;
  };
  static thread_local Slot slots[64];
  Slot &slot = slots[(reinterpret_cast<uintptr_t>(text) >> 4) % 64];
  if (slot.text != text || slot.extra != extra) {
    std::string coded;
    putCounted(&coded, text, extra);
    // A text too long to be a key or a label is not worth keeping.
    if (coded.size() > 64) {
      out->append(coded);
      return;
    }
    [text retain];
    [slot.text release];
    slot.text = text;
    slot.extra = extra;
    slot.coded = coded;
  }
  out->append(slot.coded);
}

void putText(std::string *out, NSString *text) { putCounted(out, text, 0); }

// Whether object is a string (else, by the checks done when it was stored, a dictionary or a
// multi-value), remembering the last string class seen.
bool isString(id object) {
  static thread_local Class lastStringClass = Nil;
  static Class stringClass = [NSString class];
  Class cls = object_getClass(object);
  if (cls == lastStringClass) return true;
  if (![object isKindOfClass:stringClass]) return false;
  lastStringClass = cls;
  return true;
}

void putItem(std::string *out, id item) {
  if (isString(item)) {
    out->push_back(static_cast<char>(kString));
    putText(out, item);
    return;
  }
  // Sorted keys: the same address always codes to the same bytes.
  out->push_back(static_cast<char>(kDictionary));
  NSArray *keys = [[item allKeys] sortedArrayUsingSelector:@selector(compare:)];
  putVarint(out, [keys count]);
  for (NSUInteger k = 0; k < [keys count]; k++) {
    putText(out, [keys objectAtIndex:k]);
    putText(out, [item objectForKey:[keys objectAtIndex:k]]);
  }
}

void putValue(std::string *out, id value) {
  if (isString(value)) {
    out->push_back(static_cast<char>(kString));
    putText(out, value);
    return;
  }
  NSUInteger primary = 0;
  const KXEntryList &entries = KXMultiValueEntries(value, &primary);
  out->push_back(static_cast<char>(kMulti));
  putVarint(out, primary);
  putVarint(out, entries.count);
  for (const KXEntryList::Item &entry : entries) {
    putText(out, entry.identifier);
    if (entry.label == nil) {
      putVarint(out, 0);
    } else {
      putCachedCounted(out, entry.label, 1);
    }
    putItem(out, entry.value);
  }
}

}  // namespace

// The library's own ids come back as KXIdStrings. Of other texts, GNUstep keeps the
// characters of a string made from a C string inside the string object, where a string made
// from bytes gets a second allocation for them: short ASCII texts (names, addresses: nearly
// all of a book) go the first way; the rest, and any text with a NUL inside, the second.
NSString *newString(const void *bytes, size_t length) {
  if (length == kx::kUniqueIdLength) {
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
      return [[NSString alloc] initWithUTF8String:text];
    }
  }
  return [[NSString alloc] initWithBytes:p length:length encoding:NSUTF8StringEncoding];
}

namespace {

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

  // Retained (the caller releases); nil on failure (and on invalid UTF-8).
  NSString *ownedTextOfLength(uint64_t length) {
    if (failed || length > static_cast<uint64_t>(end - p)) {
      failed = true;
      return nil;
    }
    NSString *text = newString(p, length);
    p += length;
    if (text == nil) failed = true;
    return text;
  }

  NSString *ownedText() { return ownedTextOfLength(varint()); }

  // Property keys and labels come from a small set: one shared string each saves an
  // allocation per entry, and the memory of a large book.
  NSString *ownedInternedTextOfLength(uint64_t length) {
    static std::mutex lock;
    static std::unordered_map<std::string, NSString *> known;
    if (failed || length > static_cast<uint64_t>(end - p)) {
      failed = true;
      return nil;
    }
    std::string key(reinterpret_cast<const char *>(p), length);
    {
      std::lock_guard<std::mutex> guard(lock);
      auto it = known.find(key);
      if (it != known.end()) {
        p += length;
        return [it->second retain];
      }
    }
    NSString *text = ownedTextOfLength(length);
    if (text != nil && length <= 64) {
      std::lock_guard<std::mutex> guard(lock);
      if (known.size() < 1024 && known.emplace(key, text).second) [text retain];
    }
    return text;
  }

  NSString *ownedInternedText() { return ownedInternedTextOfLength(varint()); }

  NSString *ownedOptInternedText() {
    uint64_t n = varint();
    if (failed || n == 0) return nil;
    return ownedInternedTextOfLength(n - 1);
  }


  // A count of items that each take at least one byte: bounded by what is left.
  uint64_t count() {
    uint64_t n = varint();
    if (n > static_cast<uint64_t>(end - p)) failed = true;
    return failed ? 0 : n;
  }
};

// Each read* gives a retained object (the caller releases), or nil with r->failed set.
id readItem(Reader *r) {
  unsigned char tag = r->byte();
  if (tag == kString) return r->ownedText();
  if (tag != kDictionary) {
    r->failed = true;
    return nil;
  }
  uint64_t n = r->count();
  NSMutableDictionary *dict = [[NSMutableDictionary alloc] initWithCapacity:n];
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *key = r->ownedInternedText();
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

id readValue(Reader *r) {
  unsigned char tag = r->byte();
  if (tag == kString) return r->ownedText();
  if (tag != kMulti) {
    r->failed = true;
    return nil;
  }
  uint64_t primary = r->varint();
  uint64_t n = r->count();
  if (primary >= (n > 0 ? n : 1)) r->failed = true;
  KXEntryList *entries = KXEntryList::make(n);
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *identifier = r->ownedText();
    NSString *label = r->ownedOptInternedText();
    id item = r->failed ? nil : readItem(r);
    if (!r->failed) {
      KXEntryList::insert(entries, entries->count, identifier, label, item);
    } else {
      [identifier release];
      [label release];
      [item release];
    }
  }
  if (r->failed) {
    KXEntryList::destroy(entries);
    return nil;
  }
  return [[KXMultiValue alloc] _initAdoptingEntries:entries primary:(n > 0 ? (*entries)[primary].identifier : nil)];
}

BOOL readRecord(Reader *r, KXValueList **values, NSMutableArray *members) {
  uint64_t n = r->count();
  *values = KXValueList::make(n);
  for (uint64_t i = 0; i < n && !r->failed; i++) {
    NSString *key = r->ownedInternedText();
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
  if (kind == KXRecordKindPerson) return [KXPerson class];
  if (kind == KXRecordKindGroup) return [KXGroup class];
  return Nil;
}

}  // namespace

void encodeRecord(KXRecord *record, std::string *out) {
  const KXValueList &values = [record _values];
  putVarint(out, values.count);
  for (const KXValueList::Item &item : values) {
    putCachedCounted(out, item.key, 0);
    putValue(out, item.value);
  }
  NSArray *members = [record _kind] == KXRecordKindGroup ? [(KXGroup *)record _memberIds] : nil;
  NSUInteger memberCount = [members count];
  putVarint(out, memberCount);
  for (NSUInteger i = 0; i < memberCount; i++) putText(out, [members objectAtIndex:i]);
}

BOOL decodeInto(KXRecord *record, const void *data, size_t length) {
  Reader r{static_cast<const unsigned char *>(data), static_cast<const unsigned char *>(data) + length};
  KXValueList *values = nullptr;
  NSMutableArray *members = [[NSMutableArray alloc] init];
  BOOL ok = readRecord(&r, &values, members);
  if (ok) {
    [record _adoptValues:values];
    if ([record _kind] == KXRecordKindGroup) [(KXGroup *)record _adoptMemberIds:members];
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

NSData *encodeValue(id value) {
  std::string out;
  if (value != nil) putValue(&out, value);
  return [NSData dataWithBytes:out.data() length:out.size()];
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

void writeBytes(NSCoder *coder, const std::string &bytes) {
  if ([coder allowsKeyedCoding]) {
    [coder encodeBytes:reinterpret_cast<const uint8_t *>(bytes.data()) length:bytes.size() forKey:@"KXBytes"];
    return;
  }
  unsigned length = static_cast<unsigned>(bytes.size());
  [coder encodeValueOfObjCType:@encode(unsigned) at:&length];
  if (length > 0) [coder encodeArrayOfObjCType:@encode(unsigned char) count:length at:bytes.data()];
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

NSData *encodeBatch(NSArray *records) {
  std::string out, one;
  NSUInteger count = [records count];
  putVarint(&out, count);
  for (NSUInteger i = 0; i < count; i++) {
    KXRecord *record = [records objectAtIndex:i];
    one.clear();
    encodeRecord(record, &one);
    putText(&out, [record uniqueId]);
    putVarint(&out, static_cast<uint64_t>([record _kind]));
    putVarint(&out, one.size());
    out.append(one);
  }
  return [NSData dataWithBytes:out.data() length:out.size()];
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

}  // namespace kx
