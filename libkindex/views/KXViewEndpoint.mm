#import "views/KXViewEndpoint.h"
#import "views/KXLocalView.h"
#import "views/ViewState.h"
#import "coding/KXCodec.h"
#import "KXPrivate.h"

static BOOL KXIsLocal(id object, Class cls) {
  return object != nil && ![object isProxy] && [object isKindOfClass:cls];
}

@implementation KXViewEndpoint

- (id)initWithView:(KXLocalView *)view {
  if ((self = [super init]) != nil) {
    _view = [view retain];
    _readOnly = [view isReadOnly];
  }
  return self;
}

- (void)dealloc {
  [_view release];
  [super dealloc];
}

- (id)vendable {
  return [NSProtocolChecker protocolCheckerWithTarget:self protocol:@protocol(KXViewServing)];
}

- (NSData *)_batchOf:(int)kind {
  kx::ViewState *state = [_view _state];
  state->catchUp();
  kx::BatchWriter batch;
  state->forEach(kind, [&](NSString *uid, KXRecord *saved, const kx::RecordChange *change) {
    state->addToBatch(&batch, uid, saved, change);
  });
  return batch.finish();
}

- (NSData *)_batchOfIds:(NSArray *)uids {
  kx::ViewState *state = [_view _state];
  kx::BatchWriter batch;
  for (NSUInteger i = 0; i < [uids count]; i++) state->addToBatch(&batch, [uids objectAtIndex:i]);
  return batch.finish();
}

- (NSData *)peopleData {
  return [self _batchOf:KXRecordKindPerson];
}

- (NSData *)groupsData {
  return [self _batchOf:KXRecordKindGroup];
}

- (NSData *)dataForRecordWithId:(NSString *)uid {
  if (!KXIsLocal(uid, [NSString class])) return [self _batchOfIds:nil];
  [_view _state]->catchUp();
  return [self _batchOfIds:[NSArray arrayWithObject:uid]];
}

- (NSData *)membersDataOfGroupWithId:(NSString *)uid {
  if (!KXIsLocal(uid, [NSString class])) return [self _batchOfIds:nil];
  [_view _state]->catchUp();
  return [self _batchOfIds:[_view _state]->memberIds(uid)];
}

- (NSData *)parentGroupsDataOfRecordWithId:(NSString *)uid {
  if (!KXIsLocal(uid, [NSString class])) return [self _batchOfIds:nil];
  [_view _state]->catchUp();
  return [self _batchOfIds:[_view _state]->parentGroupIds(uid)];
}

- (BOOL)setValueData:(NSData *)value
            baseData:(NSData *)base
         forProperty:(NSString *)property
      ofRecordWithId:(NSString *)uid {
  if (_readOnly || !KXIsLocal(value, [NSData class]) || !KXIsLocal(base, [NSData class]) ||
      !KXIsLocal(property, [NSString class]) || !KXIsLocal(uid, [NSString class])) {
    return NO;
  }
  id decoded = nil, seen = nil;
  if (!kx::decodeValue(value, &decoded) || !kx::decodeValue(base, &seen)) return NO;
  if (decoded != nil && !kx::isValidValue(decoded, property)) return NO;
  return [_view _state]->setValue(uid, property, seen, decoded);
}

- (BOOL)addRecordData:(NSData *)data {
  if (_readOnly || !KXIsLocal(data, [NSData class])) return NO;
  NSArray *records = kx::decodeBatch(data, nil, NO);
  if ([records count] != 1) return NO;
  return [_view _state]->add([records objectAtIndex:0]);
}

- (BOOL)removeRecordWithId:(NSString *)uid {
  return !_readOnly && KXIsLocal(uid, [NSString class]) && [_view _state]->remove(uid);
}

- (BOOL)addMemberWithId:(NSString *)memberId toGroupWithId:(NSString *)groupId {
  return !_readOnly && KXIsLocal(memberId, [NSString class]) && KXIsLocal(groupId, [NSString class]) &&
         ![memberId isEqualToString:groupId] && [_view _state]->changeMember(groupId, memberId, true);
}

- (BOOL)removeMemberWithId:(NSString *)memberId fromGroupWithId:(NSString *)groupId {
  return !_readOnly && KXIsLocal(memberId, [NSString class]) && KXIsLocal(groupId, [NSString class]) &&
         [_view _state]->changeMember(groupId, memberId, false);
}

- (NSData *)saveOutcome {
  NSError *conflicts = nil, *error = nil;
  NSMutableDictionary *outcome = [NSMutableDictionary dictionary];
  if ([_view saveReturningConflicts:&conflicts error:&error]) {
    [outcome setObject:[NSNumber numberWithInt:0] forKey:@"code"];
    NSDictionary *info = [conflicts userInfo];
    [outcome setObject:info != nil ? [info objectForKey:KXMergedRecordIdsKey] : [NSArray array]
                forKey:@"merged"];
    [outcome setObject:info != nil ? [info objectForKey:KXDroppedRecordIdsKey] : [NSArray array]
                forKey:@"dropped"];
  } else {
    [outcome setObject:[NSNumber numberWithInteger:[error code]] forKey:@"code"];
    [outcome setObject:[error localizedDescription] forKey:@"description"];
  }
  return [NSPropertyListSerialization dataWithPropertyList:outcome
                                                    format:NSPropertyListBinaryFormat_v1_0
                                                   options:0
                                                     error:NULL];
}

- (BOOL)hasUnsavedChanges {
  return [_view hasUnsavedChanges];
}

- (BOOL)isReadOnly {
  return _readOnly;
}

@end
