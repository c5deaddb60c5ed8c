#import <Kindex/KXConnectionTuning.h>
#import <Kindex/KXPublicAddressBook.h>
#import <Kindex/KXRecord.h>
#import "coding/KXCodec.h"
#import "KXPrivate.h"
#import "views/KXViewEndpoint.h"

// A view is used in one of two places. Where it was made, _book is the wrapped book: a
// read-write view hands out the book's own records, a read-only one hands out read-only
// copies bound to the view. Where it arrived over a connection, _remote is the endpoint:
// records come in batches and are bound to the view, which forwards each change as one call.
// Distributed Objects raise when the connection fails; a failed call reads as a refusal.

@implementation KXPublicAddressBook

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  if (book == nil) {
    [self release];
    return nil;
  }
  if ((self = [super init]) != nil) {
    _book = [book retain];
    _readOnly = readOnly;
  }
  return self;
}

- (void)dealloc {
  [_book release];
  [_remote release];
  [super dealloc];
}

- (BOOL)isReadOnly {
  return _readOnly;
}

- (NSArray *)_frozen:(NSArray *)records {
  NSMutableArray *copies = [NSMutableArray arrayWithCapacity:[records count]];
  for (NSUInteger i = 0; i < [records count]; i++) {
    KXRecord *copy = [[records objectAtIndex:i] _copyBoundTo:self readOnly:YES];
    [copies addObject:copy];
    [copy release];
  }
  return copies;
}

- (NSArray *)_shown:(NSArray *)records {
  return _readOnly ? [self _frozen:records] : records;
}

- (NSArray *)_batch:(NSData *)data {
  NSArray *records = kx::decodeBatch(data, self, _readOnly);
  return records != nil ? records : [NSArray array];
}

- (NSArray *)people {
  if (_book != nil) return [self _shown:[_book people]];
  @try {
    return [self _batch:[_remote peopleData]];
  } @catch (id e) {
    return [NSArray array];
  }
}

- (NSArray *)groups {
  if (_book != nil) return [self _shown:[_book groups]];
  @try {
    return [self _batch:[_remote groupsData]];
  } @catch (id e) {
    return [NSArray array];
  }
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  if (uniqueId == nil) return nil;
  if (_book != nil) {
    KXRecord *record = [_book recordForUniqueId:uniqueId];
    if (record == nil || !_readOnly) return record;
    return [[record _copyBoundTo:self readOnly:YES] autorelease];
  }
  @try {
    NSArray *found = [self _batch:[_remote dataForRecordWithId:uniqueId]];
    return [found count] == 1 ? [found objectAtIndex:0] : nil;
  } @catch (id e) {
    return nil;
  }
}

- (BOOL)addRecord:(KXRecord *)record {
  if (_readOnly) return NO;
  if (_book != nil) return [_book addRecord:record];
  if (![record isKindOfClass:[KXRecord class]] || [record _book] != nil || [record _kind] == 0) return NO;
  @try {
    if (![_remote addRecordData:kx::encodeBatch([NSArray arrayWithObject:record])]) return NO;
  } @catch (id e) {
    return NO;
  }
  [record _setBook:self retain:YES];
  return YES;
}

- (BOOL)removeRecord:(KXRecord *)record {
  if (_readOnly || ![record isKindOfClass:[KXRecord class]]) return NO;
  if (_book != nil) return [_book removeRecord:record];
  @try {
    if (![_remote removeRecordWithId:[record uniqueId]]) return NO;
  } @catch (id e) {
    return NO;
  }
  if ([record _book] == self) [record _setBook:nil retain:NO];
  return YES;
}

- (BOOL)save {
  if (_readOnly) return NO;
  if (_book != nil) return [_book save];
  @try {
    return [_remote save];
  } @catch (id e) {
    return NO;
  }
}

- (BOOL)hasUnsavedChanges {
  if (_book != nil) return [_book hasUnsavedChanges];
  @try {
    return [_remote hasUnsavedChanges];
  } @catch (id e) {
    return NO;
  }
}

// The hooks below are reached only by records bound to this view: read-only copies (which
// refuse before asking) and records that arrived over a connection.

- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  if (_readOnly || _remote == nil) return NO;
  @try {
    return [_remote setValueData:kx::encodeValue(value)
                     forProperty:property
                  ofRecordWithId:[record uniqueId]];
  } @catch (id e) {
    return NO;
  }
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  if (_readOnly || _remote == nil) return NO;
  @try {
    return [_remote addMemberWithId:[member uniqueId] toGroupWithId:[group uniqueId]];
  } @catch (id e) {
    return NO;
  }
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  if (_readOnly || _remote == nil) return NO;
  @try {
    return [_remote removeMemberWithId:[member uniqueId] fromGroupWithId:[group uniqueId]];
  } @catch (id e) {
    return NO;
  }
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  if (_book != nil) {
    KXRecord *own = [_book recordForUniqueId:[group uniqueId]];
    return [own isKindOfClass:[KXGroup class]] ? [self _shown:[(KXGroup *)own members]] : [NSArray array];
  }
  @try {
    return [self _batch:[_remote membersDataOfGroupWithId:[group uniqueId]]];
  } @catch (id e) {
    return [NSArray array];
  }
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  if (_book != nil) {
    KXRecord *own = [_book recordForUniqueId:[record uniqueId]];
    return [own isKindOfClass:[KXPerson class]] ? [self _shown:[(KXPerson *)own parentGroups]]
                                                : [NSArray array];
  }
  @try {
    return [self _batch:[_remote parentGroupsDataOfRecordWithId:[record uniqueId]]];
  } @catch (id e) {
    return [NSArray array];
  }
}

// Sent over a connection, the view travels by copy, carrying its mode and a reference to an
// endpoint for the book: no proxy to the book itself ever leaves this process.
- (id)replacementObjectForPortCoder:(NSPortCoder *)coder {
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
  id endpoint = nil;
  if (![coder isKindOfClass:[NSPortCoder class]]) {
    // Only a connection can carry the endpoint; an archived view decodes as nil.
  } else if (_book != nil) {
    KXViewEndpoint *own = [[KXViewEndpoint alloc] initWithAddressBook:_book readOnly:_readOnly];
    endpoint = [own vendable];
    [own release];
  } else {
    endpoint = _remote;
  }
  [coder encodeValueOfObjCType:@encode(BOOL) at:&_readOnly];
  [coder encodeObject:endpoint];
}

- (id)initWithCoder:(NSCoder *)coder {
  if ((self = [super init]) != nil) {
    [coder decodeValueOfObjCType:@encode(BOOL) at:&_readOnly];
    _remote = [[coder decodeObject] retain];
    if (_remote == nil) {
      [self release];
      return nil;
    }
    // -isProxy is answered here; -respondsToSelector: would go to the server, whose endpoint
    // refuses every message outside its protocol and so made every received view fail.
    if ([_remote isProxy]) {
      [_remote setProtocolForProxy:@protocol(KXViewServing)];
    }
    // Every change and every released record would otherwise wait out the server's delayed
    // acknowledgement.
    if ([coder isKindOfClass:[NSPortCoder class]])
      KXTurnOffNagleOnConnection([(NSPortCoder *)coder connection]);
  }
  return self;
}

@end
