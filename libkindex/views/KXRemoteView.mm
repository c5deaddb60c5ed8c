#import "views/KXRemoteView.h"
#import <Kindex/KXConnectionTuning.h>
#import <Kindex/KXRecord.h>
#import "coding/KXCodec.h"
#import "KXMakeError.h"
#import "KXPrivate.h"
#import "views/KXViewServing.h"

// The lambdas below capture locals only (the proxy in `remote`, never self): GCC's
// Objective-C++ has failed on self captured in a lambda. A plain method raises in its own
// frame, after -_reach: has returned, so that nothing of C++ is unwound by the exception.

namespace {

const char kGone[] = "the address-book server of this view is gone";

void raiseGone() {
  [NSException raise:KXServerGoneException format:@"%s", kGone];
}

}  // namespace

@implementation KXRemoteView

- (void)dealloc {
  [_remote release];
  [super dealloc];
}

- (BOOL)_reach:(const std::function<void()> &)call {
  if (_gone) return NO;
  NSConnection *connection = [_remote connectionForProxy];
  if (connection != nil && [connection isValid]) {
    @try {
      call();
      return YES;
    } @catch (id) {
      // Not looked at (see the platform notes): whatever the reason, no answer came.
    }
  }
  // The connection is left as it is: should the server only have been slow, it lets go of
  // the view when this one goes, as the proxy's release reaches it.
  _gone = YES;
  return NO;
}

- (NSArray *)_batch:(NSData *)data {
  NSArray *records = kx::decodeBatch(data, self, _readOnly);
  return records != nil ? records : [NSArray array];
}

- (NSArray *)people {
  id remote = _remote;
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote peopleData]; }]) raiseGone();
  return [self _batch:data];
}

- (NSArray *)groups {
  id remote = _remote;
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote groupsData]; }]) raiseGone();
  return [self _batch:data];
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  if (![uniqueId isKindOfClass:[NSString class]]) return nil;
  id remote = _remote;
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote dataForRecordWithId:uniqueId]; }]) raiseGone();
  NSArray *found = [self _batch:data];
  return [found count] == 1 ? [found objectAtIndex:0] : nil;
}

- (BOOL)addRecord:(KXRecord *)record {
  if (_readOnly) return NO;
  if (![record isKindOfClass:[KXRecord class]] || [record _book] != nil || [record _kind] == 0) return NO;
  id remote = _remote;
  NSData *data = kx::encodeBatch([NSArray arrayWithObject:record]);
  BOOL added = NO;
  if (![self _reach:[&] { added = [remote addRecordData:data]; }]) raiseGone();
  if (added) [record _setBook:self retain:YES];
  return added;
}

- (BOOL)removeRecord:(KXRecord *)record {
  if (_readOnly || ![record isKindOfClass:[KXRecord class]]) return NO;
  id remote = _remote;
  NSString *uid = [record uniqueId];
  BOOL removed = NO;
  if (![self _reach:[&] { removed = [remote removeRecordWithId:uid]; }]) raiseGone();
  if (removed && [record _book] == self) [record _setBook:nil retain:NO];
  return removed;
}

- (BOOL)save {
  NSError *error = nil;
  BOOL saved = [self saveReturningConflicts:NULL error:&error];
  if (!saved && [error code] == KXErrorServerGone) raiseGone();
  return saved;
}

// The server's outcome (see KXViewServing.h), checked as anything from a peer is.
- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  if (conflicts != NULL) *conflicts = nil;
  if (_readOnly) {
    KXMakeError(error, KXErrorReadOnly, @"this view of the address book is read-only");
    return NO;
  }
  id remote = _remote;
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote saveOutcome]; }]) {
    KXMakeError(error, KXErrorServerGone, [NSString stringWithUTF8String:kGone]);
    return NO;
  }
  id outcome = [data isKindOfClass:[NSData class]]
                   ? [NSPropertyListSerialization propertyListWithData:data options:0 format:NULL error:NULL]
                   : nil;
  id code = [outcome isKindOfClass:[NSDictionary class]] ? [outcome objectForKey:@"code"] : nil;
  if (![code isKindOfClass:[NSNumber class]]) {
    KXMakeError(error, KXErrorServerGone, @"the address-book server gave no answer a view understands");
    return NO;
  }
  if ([code integerValue] != 0) {
    id description = [outcome objectForKey:@"description"];
    KXMakeError(
        error, static_cast<KXErrorCode>([code integerValue]),
        [description isKindOfClass:[NSString class]] ? description : @"the server could not save the book");
    return NO;
  }
  if (conflicts != NULL) {
    id merged = [outcome objectForKey:@"merged"], dropped = [outcome objectForKey:@"dropped"];
    *conflicts = KXConflictError([merged isKindOfClass:[NSArray class]] ? merged : nil,
                                 [dropped isKindOfClass:[NSArray class]] ? dropped : nil);
  }
  return YES;
}

- (BOOL)hasUnsavedChanges {
  id remote = _remote;
  BOOL unsaved = NO;
  if (![self _reach:[&] { unsaved = [remote hasUnsavedChanges]; }]) raiseGone();
  return unsaved;
}

// The record's own value goes along as the base: what this client saw.
- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  if (_readOnly) return NO;
  id remote = _remote;
  NSData *now = kx::encodeValue(value), *before = kx::encodeValue([record valueForProperty:property]);
  NSString *uid = [record uniqueId];
  BOOL set = NO;
  if (![self _reach:[&] {
        set = [remote setValueData:now baseData:before forProperty:property ofRecordWithId:uid];
      }]) {
    raiseGone();
  }
  return set;
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  if (_readOnly) return NO;
  id remote = _remote;
  NSString *memberId = [member uniqueId], *groupId = [group uniqueId];
  BOOL added = NO;
  if (![self _reach:[&] { added = [remote addMemberWithId:memberId toGroupWithId:groupId]; }]) raiseGone();
  return added;
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  if (_readOnly) return NO;
  id remote = _remote;
  NSString *memberId = [member uniqueId], *groupId = [group uniqueId];
  BOOL removed = NO;
  if (![self _reach:[&] { removed = [remote removeMemberWithId:memberId fromGroupWithId:groupId]; }])
    raiseGone();
  return removed;
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  id remote = _remote;
  NSString *uid = [group uniqueId];
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote membersDataOfGroupWithId:uid]; }]) raiseGone();
  return [self _batch:data];
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  id remote = _remote;
  NSString *uid = [record uniqueId];
  NSData *data = nil;
  if (![self _reach:[&] { data = [remote parentGroupsDataOfRecordWithId:uid]; }]) raiseGone();
  return [self _batch:data];
}

// Sent on again, the view carries the same endpoint.
- (void)encodeWithCoder:(NSCoder *)coder {
  id endpoint = [coder isKindOfClass:[NSPortCoder class]] && !_gone ? _remote : nil;
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
