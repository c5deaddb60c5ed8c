#import <Kindex/KXMultiValue.h>
#import "KXPrivate.h"
#import "KXCodec.h"

// An entry's value is kept as an immutable copy, dictionaries (postal addresses) with
// immutable copies of their strings, so an entry cannot change behind its multi-value.
static id KXImmutableEntryValue(id value) {
  if ([value isKindOfClass:[NSDictionary class]]) {
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

@implementation KXMultiValue

- (id)init {
  if ((self = [super init]) != nil) _entries = new KXEntryList();
  return self;
}

- (id)_initWithEntries:(const KXEntryList &)entries primary:(NSString *)primaryIdentifier {
  return [self _initAdoptingEntries:new KXEntryList(entries) primary:primaryIdentifier];
}

- (id)_initAdoptingEntries:(KXEntryList *)entries primary:(NSString *)primaryIdentifier {
  if ((self = [super init]) != nil) {
    _entries = entries;
    _primaryIdentifier = [primaryIdentifier copy];
  } else {
    delete entries;
  }
  return self;
}

- (void)dealloc {
  delete _entries;
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
  return _entries->size();
}

- (id)valueAtIndex:(NSUInteger)index {
  return index < _entries->size() ? _entries->entries[index].value : nil;
}

- (NSString *)labelAtIndex:(NSUInteger)index {
  return index < _entries->size() ? _entries->entries[index].label : nil;
}

- (NSString *)identifierAtIndex:(NSUInteger)index {
  return index < _entries->size() ? _entries->entries[index].identifier : nil;
}

- (NSUInteger)indexForIdentifier:(NSString *)identifier {
  size_t index = _entries->indexOf(identifier);
  return index != KXEntryList::npos ? index : static_cast<NSUInteger>(NSNotFound);
}

- (NSString *)primaryIdentifier {
  if (_entries->size() == 0) return nil;
  if (_entries->indexOf(_primaryIdentifier) != KXEntryList::npos) return _primaryIdentifier;
  return _entries->entries[0].identifier;
}

static BOOL KXSame(id a, id b) {
  return a == b || (a != nil && [a isEqual:b]);
}

- (BOOL)isEqual:(id)other {
  if (other == self) return YES;
  if (![other isKindOfClass:[KXMultiValue class]]) return NO;
  KXMultiValue *mv = other;
  const std::vector<KXEntryList::Entry> &mine = _entries->entries, &theirs = mv->_entries->entries;
  if (mine.size() != theirs.size()) return NO;
  for (size_t i = 0; i < mine.size(); i++) {
    if (!KXSame(mine[i].identifier, theirs[i].identifier) || !KXSame(mine[i].label, theirs[i].label) ||
        !KXSame(mine[i].value, theirs[i].value)) {
      return NO;
    }
  }
  return KXSame([self primaryIdentifier], [mv primaryIdentifier]);
}

- (NSUInteger)hash {
  return _entries->size();
}

- (NSString *)description {
  NSMutableString *text = [NSMutableString stringWithString:@"("];
  for (NSUInteger i = 0; i < _entries->size(); i++) {
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
  return [self _initWithEntries:entries primary:entries.size() > 0 ? entries.entries[primary].identifier : nil];
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
  if (![self insertValue:value withLabel:label atIndex:_entries->size()]) return nil;
  return _entries->entries.back().identifier;
}

- (BOOL)insertValue:(id)value withLabel:(NSString *)label atIndex:(NSUInteger)index {
  if (value == nil || index > _entries->size()) return NO;
  _entries->insertAdopting(index, KXNewOwnedUniqueId(), [label copy], KXImmutableEntryValue(value));
  return YES;
}

- (BOOL)removeValueAndLabelAtIndex:(NSUInteger)index {
  if (index >= _entries->size()) return NO;
  _entries->erase(index);
  return YES;
}

- (BOOL)replaceValueAtIndex:(NSUInteger)index withValue:(id)value {
  if (value == nil || index >= _entries->size()) return NO;
  id copy = KXImmutableEntryValue(value);
  [_entries->entries[index].value release];
  _entries->entries[index].value = copy;
  return YES;
}

- (BOOL)replaceLabelAtIndex:(NSUInteger)index withLabel:(NSString *)label {
  if (index >= _entries->size()) return NO;
  NSString *labelCopy = [label copy];
  [_entries->entries[index].label release];
  _entries->entries[index].label = labelCopy;
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
