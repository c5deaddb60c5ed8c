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
  if ((self = [super init]) != nil) {
    _identifiers = [NSMutableArray new];
    _labels = [NSMutableArray new];
    _values = [NSMutableArray new];
  }
  return self;
}

- (id)_initWithIdentifiers:(NSArray *)identifiers labels:(NSArray *)labels values:(NSArray *)values
                   primary:(NSString *)primaryIdentifier {
  if ((self = [super init]) != nil) {
    _identifiers = [identifiers mutableCopy];
    _labels = [labels mutableCopy];
    _values = [values mutableCopy];
    _primaryIdentifier = [primaryIdentifier copy];
  }
  return self;
}

- (id)_initAdoptingIdentifiers:(NSMutableArray *)identifiers labels:(NSMutableArray *)labels
                        values:(NSMutableArray *)values primary:(NSString *)primaryIdentifier {
  if ((self = [super init]) != nil) {
    _identifiers = [identifiers retain];
    _labels = [labels retain];
    _values = [values retain];
    _primaryIdentifier = [primaryIdentifier copy];
  }
  return self;
}

- (void)dealloc {
  [_identifiers release];
  [_labels release];
  [_values release];
  [_primaryIdentifier release];
  [super dealloc];
}

void KXMultiValueParts(KXMultiValue *multiValue, NSArray **identifiers, NSArray **labels, NSArray **values,
                       NSUInteger *primaryIndex) {
  *identifiers = multiValue->_identifiers;
  *labels = multiValue->_labels;
  *values = multiValue->_values;
  // A chosen primary that is gone, or none chosen, means the first entry.
  NSString *chosen = multiValue->_primaryIdentifier;
  NSUInteger index = chosen != nil ? [multiValue->_identifiers indexOfObject:chosen] : static_cast<NSUInteger>(NSNotFound);
  *primaryIndex = index != NSNotFound ? index : 0;
}

- (NSUInteger)count {
  return [_values count];
}

- (id)valueAtIndex:(NSUInteger)index {
  return index < [_values count] ? [_values objectAtIndex:index] : nil;
}

- (NSString *)labelAtIndex:(NSUInteger)index {
  if (index >= [_labels count]) return nil;
  id label = [_labels objectAtIndex:index];
  return label == [NSNull null] ? nil : label;
}

- (NSString *)identifierAtIndex:(NSUInteger)index {
  return index < [_identifiers count] ? [_identifiers objectAtIndex:index] : nil;
}

- (NSUInteger)indexForIdentifier:(NSString *)identifier {
  if (identifier == nil) return NSNotFound;
  return [_identifiers indexOfObject:identifier];
}

- (NSString *)primaryIdentifier {
  if ([_identifiers count] == 0) return nil;
  if (_primaryIdentifier != nil && [_identifiers containsObject:_primaryIdentifier]) {
    return _primaryIdentifier;
  }
  return [_identifiers objectAtIndex:0];
}

- (BOOL)isEqual:(id)other {
  if (other == self) return YES;
  if (![other isKindOfClass:[KXMultiValue class]]) return NO;
  KXMultiValue *mv = other;
  NSString *p1 = [self primaryIdentifier], *p2 = [mv primaryIdentifier];
  return [_identifiers isEqualToArray:mv->_identifiers] && [_labels isEqualToArray:mv->_labels] &&
         [_values isEqualToArray:mv->_values] && (p1 == p2 || [p1 isEqualToString:p2]);
}

- (NSUInteger)hash {
  return [_values count];
}

- (NSString *)description {
  NSMutableString *text = [NSMutableString stringWithString:@"("];
  for (NSUInteger i = 0; i < [_values count]; i++) {
    [text appendFormat:@"%@%@: %@", i ? @", " : @"", [self labelAtIndex:i], [_values objectAtIndex:i]];
  }
  [text appendString:@")"];
  return text;
}

- (id)copyWithZone:(NSZone *)zone {
  if ([self class] == [KXMultiValue class]) return [self retain];
  return [[KXMultiValue allocWithZone:zone] _initWithIdentifiers:_identifiers labels:_labels
                                                          values:_values primary:_primaryIdentifier];
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
  NSArray *identifiers = nil, *labels = nil, *values = nil;
  NSUInteger primary = 0;
  KXMultiValueParts(decoded, &identifiers, &labels, &values, &primary);
  return [self _initWithIdentifiers:identifiers labels:labels values:values
                            primary:[identifiers count] > 0 ? [identifiers objectAtIndex:primary] : nil];
}

@end

@implementation KXMutableMultiValue

- (id)init {
  return [super init];
}

- (id)initWithMultiValue:(KXMultiValue *)multiValue {
  if (multiValue == nil) return [self init];
  return [self _initWithIdentifiers:multiValue->_identifiers labels:multiValue->_labels
                             values:multiValue->_values primary:multiValue->_primaryIdentifier];
}

- (NSString *)addValue:(id)value withLabel:(NSString *)label {
  if (value == nil) return nil;
  if (![self insertValue:value withLabel:label atIndex:[_values count]]) return nil;
  return [_identifiers lastObject];
}

- (BOOL)insertValue:(id)value withLabel:(NSString *)label atIndex:(NSUInteger)index {
  if (value == nil || index > [_values count]) return NO;
  id copy = KXImmutableEntryValue(value);
  NSString *labelCopy = [label copy];
  [_values insertObject:copy atIndex:index];
  [_labels insertObject:(labelCopy != nil ? (id)labelCopy : (id)[NSNull null]) atIndex:index];
  [_identifiers insertObject:KXNewUniqueId() atIndex:index];
  [copy release];
  [labelCopy release];
  return YES;
}

- (BOOL)removeValueAndLabelAtIndex:(NSUInteger)index {
  if (index >= [_values count]) return NO;
  [_values removeObjectAtIndex:index];
  [_labels removeObjectAtIndex:index];
  [_identifiers removeObjectAtIndex:index];
  return YES;
}

- (BOOL)replaceValueAtIndex:(NSUInteger)index withValue:(id)value {
  if (value == nil || index >= [_values count]) return NO;
  id copy = KXImmutableEntryValue(value);
  [_values replaceObjectAtIndex:index withObject:copy];
  [copy release];
  return YES;
}

- (BOOL)replaceLabelAtIndex:(NSUInteger)index withLabel:(NSString *)label {
  if (index >= [_labels count]) return NO;
  NSString *labelCopy = [label copy];
  [_labels replaceObjectAtIndex:index withObject:(labelCopy != nil ? (id)labelCopy : (id)[NSNull null])];
  [labelCopy release];
  return YES;
}

- (BOOL)setPrimaryIdentifier:(NSString *)identifier {
  if (identifier == nil || ![_identifiers containsObject:identifier]) return NO;
  NSString *copy = [identifier copy];
  [_primaryIdentifier release];
  _primaryIdentifier = copy;
  return YES;
}

@end
