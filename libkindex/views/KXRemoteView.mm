#import "views/KXRemoteView.h"
#import <Kindex/KXConnectionTuning.h>
#import <Kindex/KXRecord.h>
#import "coding/KXCodec.h"
#import "KXMakeError.h"
#import "KXPrivate.h"
#import "views/KXViewServing.h"

// Distributed Objects raise when the connection fails; a failed call reads as a refusal.

@implementation KXRemoteView

- (void)dealloc {
  [_remote release];
  [super dealloc];
}

- (NSArray *)_batch:(NSData *)data {
  NSArray *records = kx::decodeBatch(data, self, _readOnly);
  return records != nil ? records : [NSArray array];
}

- (NSArray *)people {
  @try {
    return [self _batch:[_remote peopleData]];
  } @catch (id) {
    return [NSArray array];
  }
}

- (NSArray *)groups {
  @try {
    return [self _batch:[_remote groupsData]];
  } @catch (id) {
    return [NSArray array];
  }
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  if (uniqueId == nil) return nil;
  @try {
    NSArray *found = [self _batch:[_remote dataForRecordWithId:uniqueId]];
    return [found count] == 1 ? [found objectAtIndex:0] : nil;
  } @catch (id) {
    return nil;
  }
}

- (BOOL)addRecord:(KXRecord *)record {
  if (_readOnly) return NO;
  if (![record isKindOfClass:[KXRecord class]] || [record _book] != nil || [record _kind] == 0) return NO;
  @try {
    if (![_remote addRecordData:kx::encodeBatch([NSArray arrayWithObject:record])]) return NO;
  } @catch (id) {
    return NO;
  }
  [record _setBook:self retain:YES];
  return YES;
}

- (BOOL)removeRecord:(KXRecord *)record {
  if (_readOnly || ![record isKindOfClass:[KXRecord class]]) return NO;
  @try {
    if (![_remote removeRecordWithId:[record uniqueId]]) return NO;
  } @catch (id) {
    return NO;
  }
  if ([record _book] == self) [record _setBook:nil retain:NO];
  return YES;
}

- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  if (conflicts != NULL) *conflicts = nil;
  if (_readOnly) {
    KXMakeError(error, KXErrorReadOnly, @"this view of the address book is read-only");
    return NO;
  }
  @try {
    return [_remote save];
  } @catch (id) {
    return NO;
  }
}

- (BOOL)hasUnsavedChanges {
  @try {
    return [_remote hasUnsavedChanges];
  } @catch (id) {
    return NO;
  }
}

- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  if (_readOnly) return NO;
  @try {
    return [_remote setValueData:kx::encodeValue(value)
                     forProperty:property
                  ofRecordWithId:[record uniqueId]];
  } @catch (id) {
    return NO;
  }
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  if (_readOnly) return NO;
  @try {
    return [_remote addMemberWithId:[member uniqueId] toGroupWithId:[group uniqueId]];
  } @catch (id) {
    return NO;
  }
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  if (_readOnly) return NO;
  @try {
    return [_remote removeMemberWithId:[member uniqueId] fromGroupWithId:[group uniqueId]];
  } @catch (id) {
    return NO;
  }
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  @try {
    return [self _batch:[_remote membersDataOfGroupWithId:[group uniqueId]]];
  } @catch (id) {
    return [NSArray array];
  }
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  @try {
    return [self _batch:[_remote parentGroupsDataOfRecordWithId:[record uniqueId]]];
  } @catch (id) {
    return [NSArray array];
  }
}

// Sent on again, the view carries the same endpoint.
- (void)encodeWithCoder:(NSCoder *)coder {
  id endpoint = [coder isKindOfClass:[NSPortCoder class]] ? _remote : nil;
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
