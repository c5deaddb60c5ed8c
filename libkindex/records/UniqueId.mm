#import "records/UniqueId.h"

#include <atomic>
#include <cstdint>
#include <chrono>
#include <mutex>
#include <random>
#include <pthread.h>
#include <unistd.h>

namespace {

struct UniqueIdParts {
  uint64_t micros;
  uint32_t tag;
  uint32_t counter;
};

// Set in a forked child, so that it draws a tag of its own. Asking getpid() on every id
// would cost a system call each: a book of 100,000 persons makes 200,000 ids.
std::atomic<bool> forked{false};

void noteFork() {
  forked = true;
}

char *putHex(char *to, uint64_t value, int digits) {
  static const char hex[] = "0123456789abcdef";
  for (int i = digits - 1; i >= 0; i--) {
    to[i] = hex[value & 0xf];
    value >>= 4;
  }
  return to + digits;
}

// Lower-case digits only: anything else would not come back as the same text.
bool getHex(const char *from, int digits, uint64_t *value) {
  uint64_t n = 0;
  for (int i = 0; i < digits; i++) {
    char c = from[i];
    if (c >= '0' && c <= '9') {
      n = (n << 4) | static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      n = (n << 4) | static_cast<uint64_t>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  *value = n;
  return true;
}

UniqueIdParts newUniqueIdParts() {
  static std::mutex lock;
  static bool drawn = false;
  static uint32_t tag = 0;
  static uint32_t counter = 0;

  std::lock_guard<std::mutex> guard(lock);
  if (!drawn || forked.exchange(false)) {
    if (!drawn) pthread_atfork(nullptr, nullptr, noteFork);
    std::random_device device;
    tag = device();
    counter = 0;
    drawn = true;
  }
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  return UniqueIdParts{static_cast<uint64_t>(micros), tag, ++counter};
}

// Writes the text of parts and a NUL; gives the length (kUniqueIdLength). Written out by hand:
// snprintf was a good part of the cost of making an id.
size_t formatUniqueId(const UniqueIdParts &parts, char (&text)[48]) {
  char *p = putHex(text, parts.micros >> 16, 12);
  *p++ = '-';
  p = putHex(p, parts.micros & 0xffff, 4);
  *p++ = '-';
  p = putHex(p, parts.tag, 8);
  *p++ = '-';
  p = putHex(p, parts.counter, 8);
  *p = '\0';
  return static_cast<size_t>(p - text);
}

// Whether text is exactly the text of some parts (which it then gives).
bool parseUniqueId(const char *text, size_t length, UniqueIdParts *parts) {
  if (length != kx::kUniqueIdLength || text[12] != '-' || text[17] != '-' || text[26] != '-') return false;
  uint64_t high = 0, low = 0, tag = 0, counter = 0;
  if (!getHex(text, 12, &high) || !getHex(text + 13, 4, &low) || !getHex(text + 18, 8, &tag) ||
      !getHex(text + 27, 8, &counter)) {
    return false;
  }
  *parts = UniqueIdParts{(high << 16) | low, static_cast<uint32_t>(tag), static_cast<uint32_t>(counter)};
  return true;
}

}  // namespace

// Two ids compare by their numbers; anything else as NSString compares texts.
@interface KXIdString : NSString {
  UniqueIdParts _parts;
}
@end

@implementation KXIdString

static BOOL KXSameParts(const UniqueIdParts &a, const UniqueIdParts &b) {
  return a.micros == b.micros && a.tag == b.tag && a.counter == b.counter;
}

- (id)_initWithParts:(const UniqueIdParts &)parts {
  if ((self = [super init]) != nil) _parts = parts;
  return self;
}

- (NSUInteger)length {
  return kx::kUniqueIdLength;
}

- (unichar)characterAtIndex:(NSUInteger)index {
  if (index >= kx::kUniqueIdLength) {
    [NSException raise:NSRangeException
                format:@"index %lu beyond the end of a unique id", (unsigned long)index];
  }
  char text[48];
  formatUniqueId(_parts, text);
  return static_cast<unichar>(text[index]);
}

- (void)getCharacters:(unichar *)buffer range:(NSRange)range {
  if (range.location > kx::kUniqueIdLength || range.length > kx::kUniqueIdLength - range.location) {
    [NSException raise:NSRangeException format:@"range beyond the end of a unique id"];
  }
  char text[48];
  formatUniqueId(_parts, text);
  for (NSUInteger i = 0; i < range.length; i++) buffer[i] = static_cast<unichar>(text[range.location + i]);
}

- (BOOL)isEqual:(id)other {
  if (other != nil && object_getClass(other) == object_getClass(self)) {
    return KXSameParts(_parts, static_cast<KXIdString *>(other)->_parts);
  }
  return [super isEqual:other];
}

- (BOOL)isEqualToString:(NSString *)other {
  if (other != nil && object_getClass(other) == object_getClass(self)) {
    return KXSameParts(_parts, static_cast<KXIdString *>(other)->_parts);
  }
  return [super isEqualToString:other];
}

- (id)copyWithZone:(NSZone *)zone {
  return [self retain];
}

// Found once: see stringClass() in KXPrivate.h.
static Class idStringClass() {
  static Class found = [KXIdString class];
  return found;
}

bool KXIsIdString(id object) {
  return object != nil && object_getClass(object) == idStringClass();
}

bool KXIdStringText(NSString *text, char (&out)[48], size_t *length) {
  if (!KXIsIdString(text)) return false;
  *length = formatUniqueId(static_cast<KXIdString *>(text)->_parts, out);
  return true;
}

@end

NSString *KXNewOwnedUniqueId(void) {
  return [[idStringClass() alloc] _initWithParts:newUniqueIdParts()];
}

NSString *KXIdStringFromText(const void *bytes, size_t length) {
  UniqueIdParts parts;
  if (!parseUniqueId(static_cast<const char *>(bytes), length, &parts)) return nil;
  return [[idStringClass() alloc] _initWithParts:parts];
}
