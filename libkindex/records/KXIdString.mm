#import "KXIdString.h"

@implementation KXIdString

static BOOL KXSameParts(const kx::UniqueIdParts &a, const kx::UniqueIdParts &b) {
  return a.micros == b.micros && a.tag == b.tag && a.counter == b.counter;
}

- (id)_initWithParts:(const kx::UniqueIdParts &)parts {
  if ((self = [super init]) != nil) _parts = parts;
  return self;
}

- (NSUInteger)length {
  return kx::kUniqueIdLength;
}

- (unichar)characterAtIndex:(NSUInteger)index {
  if (index >= kx::kUniqueIdLength) {
    [NSException raise:NSRangeException format:@"index %lu beyond the end of a unique id", (unsigned long)index];
  }
  char text[48];
  kx::formatUniqueId(_parts, text);
  return static_cast<unichar>(text[index]);
}

- (void)getCharacters:(unichar *)buffer range:(NSRange)range {
  if (range.location > kx::kUniqueIdLength || range.length > kx::kUniqueIdLength - range.location) {
    [NSException raise:NSRangeException format:@"range beyond the end of a unique id"];
  }
  char text[48];
  kx::formatUniqueId(_parts, text);
  for (NSUInteger i = 0; i < range.length; i++) buffer[i] = static_cast<unichar>(text[range.location + i]);
}

// Two ids compare by their numbers; anything else as NSString compares texts.
- (BOOL)isEqual:(id)other {
  if (other != nil && object_getClass(other) == object_getClass(self)) return KXSameParts(_parts, static_cast<KXIdString *>(other)->_parts);
  return [super isEqual:other];
}

- (BOOL)isEqualToString:(NSString *)other {
  if (other != nil && object_getClass(other) == object_getClass(self)) return KXSameParts(_parts, static_cast<KXIdString *>(other)->_parts);
  return [super isEqualToString:other];
}


- (id)copyWithZone:(NSZone *)zone {
  return [self retain];
}

bool KXIdStringText(NSString *text, char (&out)[48], size_t *length) {
  static Class idClass = [KXIdString class];
  if (object_getClass(text) != idClass) return false;
  *length = kx::formatUniqueId(static_cast<KXIdString *>(text)->_parts, out);
  return true;
}

@end

NSString *KXNewIdString(void) {
  return [[KXIdString alloc] _initWithParts:kx::newUniqueIdParts()];
}

NSString *KXIdStringFromText(const void *bytes, size_t length) {
  kx::UniqueIdParts parts;
  if (!kx::parseUniqueId(static_cast<const char *>(bytes), length, &parts)) return nil;
  return [[KXIdString alloc] _initWithParts:parts];
}

