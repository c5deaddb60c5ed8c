#import <Kindex/KXRecord.h>
#import <Kindex/KXProperties.h>
#import "KXPrivate.h"
#import "coding/KXCodec.h"
#import "records/UniqueId.h"

static BOOL KXIsStringDictionary(id value) {
  if (![value isKindOfClass:[NSDictionary class]]) return NO;
  NSArray *keys = [value allKeys];
  for (NSUInteger i = 0; i < [keys count]; i++) {
    id key = [keys objectAtIndex:i];
    if (![key isKindOfClass:[NSString class]]) return NO;
    if (![[value objectForKey:key] isKindOfClass:[NSString class]]) return NO;
  }
  return YES;
}

// Entries of a multi-value: strings, or (for postal addresses) dictionaries of strings.
static BOOL KXIsValidMultiValue(id value, BOOL strings, BOOL dictionaries) {
  if (![value isKindOfClass:[KXMultiValue class]]) return NO;
  KXMultiValue *mv = value;
  for (NSUInteger i = 0; i < [mv count]; i++) {
    id entry = [mv valueAtIndex:i];
    BOOL ok =
        (strings && [entry isKindOfClass:[NSString class]]) || (dictionaries && KXIsStringDictionary(entry));
    if (!ok) return NO;
    id label = [mv labelAtIndex:i];
    if (label != nil && ![label isKindOfClass:[NSString class]]) return NO;
  }
  return YES;
}

namespace kx {

BOOL isValidValue(id value, NSString *property) {
  if (![property isKindOfClass:[NSString class]] || value == nil) return NO;
  static NSSet *stringProperties = nil, *stringLists = nil, *dictionaryLists = nil;
  if (stringProperties == nil) {
    stringProperties = [[NSSet alloc]
        initWithObjects:KXFirstNameProperty, KXLastNameProperty, KXMiddleNameProperty, KXNicknameProperty,
                        KXOrganizationProperty, KXDepartmentProperty, KXJobTitleProperty, KXNoteProperty,
                        KXGroupNameProperty, KXFormattedNameProperty, KXNamePrefixProperty,
                        KXNameSuffixProperty, KXPhoneticFirstNameProperty, KXPhoneticMiddleNameProperty,
                        KXPhoneticLastNameProperty, KXBirthdayProperty, KXAnniversaryProperty, KXRoleProperty,
                        KXGenderProperty, KXPhotoProperty, nil];
    stringLists = [[NSSet alloc] initWithObjects:KXEmailProperty, KXPhoneProperty, KXURLProperty,
                                                 KXInstantMessageProperty, KXRelatedNamesProperty,
                                                 KXOtherVCardPropertiesProperty, nil];
    dictionaryLists = [[NSSet alloc] initWithObjects:KXAddressProperty, KXVCardParametersProperty, nil];
  }
  if ([stringLists containsObject:property]) return KXIsValidMultiValue(value, YES, NO);
  if ([dictionaryLists containsObject:property]) return KXIsValidMultiValue(value, NO, YES);
  if ([stringProperties containsObject:property]) {
    return [value isKindOfClass:[NSString class]];
  }
  // A property this library does not know: a string or a multi-value of strings or addresses.
  return [value isKindOfClass:[NSString class]] || KXIsValidMultiValue(value, YES, YES);
}

}  // namespace kx

@implementation KXRecord

- (id)init {
  NSString *uid = KXNewOwnedUniqueId();
  self = [self _initWithUniqueId:uid];
  [uid release];
  return self;
}

- (id)initWithUniqueId:(NSString *)uniqueId {
  if (![uniqueId isKindOfClass:[NSString class]] || [uniqueId length] == 0) {
    [self release];
    return nil;
  }
  return [self _initWithUniqueId:uniqueId];
}

- (id)_initWithUniqueId:(NSString *)uniqueId {
  if ((self = [super init]) != nil) {
    _uniqueId = [uniqueId copy];
    _values = KXValueList::make(0);
  }
  return self;
}

- (void)dealloc {
  if (_retainsBook) [_book release];
  [_uniqueId release];
  KXValueList::destroy(_values);
  [super dealloc];
}

- (int)_kind {
  return 0;
}

- (NSString *)uniqueId {
  return _uniqueId;
}

- (BOOL)isReadOnly {
  return _readOnly;
}

- (id)valueForProperty:(NSString *)property {
  return property != nil ? _values->get(property) : nil;
}

- (BOOL)setValue:(id)value forProperty:(NSString *)property {
  if (_readOnly || ![property isKindOfClass:[NSString class]]) return NO;
  if (value == nil) return [self removeValueForProperty:property];
  if (!kx::isValidValue(value, property)) return NO;
  // Autoreleased: the book's hook may raise (a remote view whose server is gone).
  id copy = [[value copy] autorelease];
  BOOL allowed = _book == nil || [_book _record:self willSetValue:copy forProperty:property];
  if (allowed) {
    NSString *key = [property copy];
    KXValueList::set(_values, key, copy);
    [key release];
  }
  return allowed;
}

- (BOOL)removeValueForProperty:(NSString *)property {
  if (_readOnly || ![property isKindOfClass:[NSString class]]) return NO;
  if (_values->get(property) == nil) return YES;
  if (_book != nil && ![_book _record:self willSetValue:nil forProperty:property]) return NO;
  _values->remove(property);
  return YES;
}

- (NSArray *)properties {
  return _values->keys();
}

- (NSString *)description {
  return [NSString
      stringWithFormat:@"<%@ %@ %@>", NSStringFromClass([self class]), _uniqueId, _values->dictionary()];
}

- (KXAddressBook *)_book {
  return _book;
}

- (void)_setBook:(KXAddressBook *)book retain:(BOOL)retainBook {
  if (retainBook) [book retain];
  if (_retainsBook) [_book release];
  _book = book;
  _retainsBook = retainBook;
}

- (void)_setReadOnly:(BOOL)readOnly {
  _readOnly = readOnly;
}

- (const KXValueList &)_values {
  return *_values;
}

- (void)_adoptValues:(KXValueList *)values {
  KXValueList::destroy(_values);
  _values = values;
}

- (KXRecord *)_copyBoundTo:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  KXRecord *copy = [[[self class] alloc] _initWithUniqueId:_uniqueId];
  [copy _adoptValues:KXValueList::clone(_values)];
  [copy _setBook:book retain:YES];
  copy->_readOnly = readOnly;
  return copy;
}

// A record sent on its own travels whole and arrives belonging to no book.
- (id)replacementObjectForPortCoder:(NSPortCoder *)coder {
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
  std::string bytes;
  kx::encodeRecord(self, &bytes);
  if ([coder allowsKeyedCoding]) {
    [coder encodeObject:_uniqueId forKey:@"KXUniqueId"];
  } else {
    [coder encodeObject:_uniqueId];
  }
  kx::writeBytes(coder, bytes);
}

- (id)initWithCoder:(NSCoder *)coder {
  NSString *uid = [coder allowsKeyedCoding] ? [coder decodeObjectForKey:@"KXUniqueId"] : [coder decodeObject];
  std::string bytes;
  if (![uid isKindOfClass:[NSString class]] || !kx::readBytes(coder, &bytes)) {
    [self release];
    return nil;
  }
  self = [self _initWithUniqueId:uid];
  if (self != nil && !kx::decodeInto(self, bytes.data(), bytes.size())) {
    [self release];
    return nil;
  }
  return self;
}

@end
