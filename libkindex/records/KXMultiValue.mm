#import <Kindex/KXMultiValue.h>
#import "KXPrivate.h"
#import "coding/KXCodec.h"
#import "records/UniqueId.h"

// An entry's value is kept as an immutable copy, dictionaries (postal addresses) with
// immutable copies of their strings, so an entry cannot change behind its multi-value.
static id KXImmutableEntryValue(id value) {
  if ([value isKindOfClass:kx::dictionaryClass()]) {
    NSArray *keys = [value allKeys];
    NSMutableDictionary *copy = [NSMutableDictionary dictionaryWithCapacity:[keys count]];
    for (NSUInteger i = 0; i < [keys count]; i++) {
      id key = [keys objectAtIndex:i];
      id item = [value objectForKey:key];
      id itemCopy = [item copy];
      id keyCopy = [key copy];
      [copy setObject:itemCopy forKey:keyCopy];
      [itemCopy release];
      [keyCopy release];
    }
    return [copy copy];
  }
  return [value copy];
}

// Attributes as an entry keeps them: nil for none, else an immutable dictionary of strings.
// NO when they are not a dictionary of strings to strings.
static BOOL KXEntryAttributes(NSDictionary *attributes, NSDictionary **out) {
  *out = nil;
  if (attributes == nil) return YES;
  if (![attributes isKindOfClass:kx::dictionaryClass()]) return NO;
  NSArray *keys = [attributes allKeys];
  for (NSUInteger i = 0; i < [keys count]; i++) {
    id key = [keys objectAtIndex:i];
    if (![key isKindOfClass:kx::stringClass()] ||
        ![[attributes objectForKey:key] isKindOfClass:kx::stringClass()])
      return NO;
  }
  if ([keys count] > 0) *out = KXImmutableEntryValue(attributes);
  return YES;
}

namespace kx {
bool sameValue(id a, id b) {
  if (a == b) return true;
  if (a == nil || b == nil) return false;
  // Ids made here compare their numbers; other strings their characters.
  if (!KXIsIdString(a) && [a isKindOfClass:stringClass()] && [b isKindOfClass:stringClass()])
    return [(NSString *)a length] == [(NSString *)b length] &&
           [(NSString *)a compare:(NSString *)b options:NSLiteralSearch] == NSOrderedSame;
  return [a isEqual:b];
}

bool entriesDiffer(const EntryItem &a, const EntryItem &b) {
  return !sameValue(a.value, b.value) || !sameValue(a.label, b.label) ||
         !sameValue(a.attributes, b.attributes);
}
}  // namespace kx

@implementation KXMultiValue

- (id)init {
  if ((self = [super init]) != nil) _entries = KXEntryList::make(0);
  return self;
}

- (id)_initWithEntries:(const KXEntryList &)entries primary:(NSString *)primaryIdentifier {
  return [self _initAdoptingEntries:KXEntryList::clone(&entries) primary:primaryIdentifier];
}

- (id)_initAdoptingEntries:(KXEntryList *)entries primary:(NSString *)primaryIdentifier {
  if ((self = [super init]) != nil) {
    _entries = entries;
    _primaryIdentifier = [primaryIdentifier copy];
  } else {
    KXEntryList::destroy(entries);
  }
  return self;
}

- (void)dealloc {
  KXEntryList::destroy(_entries);
  [_primaryIdentifier release];
  [super dealloc];
}

const KXEntryList &KXMultiValueEntries(KXMultiValue *multiValue, NSUInteger *primaryIndex) {
  // A chosen primary that is gone, or none chosen, means the first entry.
  size_t index = multiValue->_entries->indexOf(multiValue->_primaryIdentifier);
  *primaryIndex = index != KXEntryList::npos ? index : 0;
  return *multiValue->_entries;
}

- (NSUInteger)count {
  return _entries->count;
}

- (id)valueAtIndex:(NSUInteger)index {
  return index < _entries->count ? (*_entries)[index].value : nil;
}

- (NSString *)labelAtIndex:(NSUInteger)index {
  return index < _entries->count ? (*_entries)[index].label : nil;
}

- (NSString *)identifierAtIndex:(NSUInteger)index {
  return index < _entries->count ? (*_entries)[index].identifier : nil;
}

- (NSDictionary *)attributesAtIndex:(NSUInteger)index {
  return index < _entries->count ? (*_entries)[index].attributes : nil;
}

- (NSUInteger)indexForIdentifier:(NSString *)identifier {
  size_t index = _entries->indexOf(identifier);
  return index != KXEntryList::npos ? index : static_cast<NSUInteger>(NSNotFound);
}

- (NSString *)primaryIdentifier {
  if (_entries->count == 0) return nil;
  if (_entries->indexOf(_primaryIdentifier) != KXEntryList::npos) return _primaryIdentifier;
  return (*_entries)[0].identifier;
}

- (BOOL)isEqual:(id)other {
  if (other == self) return YES;
  if (![other isKindOfClass:kx::multiValueClass()]) return NO;
  KXMultiValue *mv = other;
  const KXEntryList &mine = *_entries, &theirs = *mv->_entries;
  if (mine.count != theirs.count) return NO;
  for (size_t i = 0; i < mine.count; i++) {
    if (!kx::sameValue(mine[i].identifier, theirs[i].identifier) || kx::entriesDiffer(mine[i], theirs[i])) {
      return NO;
    }
  }
  return kx::sameValue([self primaryIdentifier], [mv primaryIdentifier]);
}

- (NSUInteger)hash {
  return _entries->count;
}

- (NSString *)description {
  NSMutableString *text = [NSMutableString stringWithString:@"("];
  for (NSUInteger i = 0; i < _entries->count; i++) {
    [text appendFormat:@"%@%@: %@", i ? @", " : @"", [self labelAtIndex:i], [self valueAtIndex:i]];
  }
  [text appendString:@")"];
  return text;
}

- (id)copyWithZone:(NSZone *)zone {
  if ([self class] == [KXMultiValue class]) return [self retain];
  return [[KXMultiValue allocWithZone:zone] _initWithEntries:*_entries primary:_primaryIdentifier];
}

- (id)mutableCopyWithZone:(NSZone *)zone {
  return [[KXMutableMultiValue allocWithZone:zone] initWithMultiValue:self];
}

// Multi-values travel whole: a proxy would cost a round trip per entry.
- (id)replacementObjectForPortCoder:(NSPortCoder *)coder {
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
  NSData *data = kx::encodeValue(self);
  kx::writeBytes(coder, std::string(static_cast<const char *>([data bytes]), [data length]));
}

// Decodes into an object of the class that was sent, so a mutable multi-value stays mutable.
- (id)initWithCoder:(NSCoder *)coder {
  std::string bytes;
  id decoded = nil;
  if (!kx::readBytes(coder, &bytes) ||
      !kx::decodeValue([NSData dataWithBytes:bytes.data() length:bytes.size()], &decoded) ||
      ![decoded isKindOfClass:[KXMultiValue class]]) {
    [self release];
    return nil;
  }
  NSUInteger primary = 0;
  const KXEntryList &entries = KXMultiValueEntries(decoded, &primary);
  return [self _initWithEntries:entries primary:entries.count > 0 ? entries[primary].identifier : nil];
}

@end

@implementation KXMutableMultiValue

- (id)init {
  return [super init];
}

- (id)initWithMultiValue:(KXMultiValue *)multiValue {
  if (multiValue == nil) return [self init];
  return [self _initWithEntries:*multiValue->_entries primary:multiValue->_primaryIdentifier];
}

- (NSString *)addValue:(id)value withLabel:(NSString *)label {
  if (value == nil) return nil;
  if (![self insertValue:value withLabel:label atIndex:_entries->count]) return nil;
  return (*_entries)[_entries->count - 1].identifier;
}

- (NSString *)addValue:(id)value withLabel:(NSString *)label attributes:(NSDictionary *)attributes {
  NSDictionary *kept = nil;
  if (value == nil || !KXEntryAttributes(attributes, &kept)) return nil;
  KXEntryList::insert(_entries, _entries->count,
                      {KXNewOwnedUniqueId(), [label copy], KXImmutableEntryValue(value), kept});
  return (*_entries)[_entries->count - 1].identifier;
}

- (BOOL)insertValue:(id)value withLabel:(NSString *)label atIndex:(NSUInteger)index {
  if (value == nil || index > _entries->count) return NO;
  KXEntryList::insert(_entries, index,
                      {KXNewOwnedUniqueId(), [label copy], KXImmutableEntryValue(value), nil});
  return YES;
}

- (BOOL)replaceAttributesAtIndex:(NSUInteger)index withAttributes:(NSDictionary *)attributes {
  NSDictionary *kept = nil;
  if (index >= _entries->count || !KXEntryAttributes(attributes, &kept)) return NO;
  [(*_entries)[index].attributes release];
  (*_entries)[index].attributes = kept;
  return YES;
}

- (BOOL)removeValueAndLabelAtIndex:(NSUInteger)index {
  if (index >= _entries->count) return NO;
  _entries->erase(index);
  return YES;
}

- (BOOL)replaceValueAtIndex:(NSUInteger)index withValue:(id)value {
  if (value == nil || index >= _entries->count) return NO;
  id copy = KXImmutableEntryValue(value);
  [(*_entries)[index].value release];
  (*_entries)[index].value = copy;
  return YES;
}

- (BOOL)replaceLabelAtIndex:(NSUInteger)index withLabel:(NSString *)label {
  if (index >= _entries->count) return NO;
  NSString *labelCopy = [label copy];
  [(*_entries)[index].label release];
  (*_entries)[index].label = labelCopy;
  return YES;
}

- (BOOL)setPrimaryIdentifier:(NSString *)identifier {
  if (_entries->indexOf(identifier) == KXEntryList::npos) return NO;
  NSString *copy = [identifier copy];
  [_primaryIdentifier release];
  _primaryIdentifier = copy;
  return YES;
}

@end
