#import <Kindex/KXRecord.h>
#import "KXPrivate.h"

@implementation KXGroup

- (id)_initWithUniqueId:(NSString *)uniqueId {
  if ((self = [super _initWithUniqueId:uniqueId]) != nil) {
    _memberIds = [NSMutableArray new];
  }
  return self;
}

- (void)dealloc {
  [_memberIds release];
  [_memberIdSet release];
  [super dealloc];
}

- (int)_kind {
  return KXRecordKindGroup;
}

- (NSArray *)members {
  return _book != nil ? [_book _membersOfGroup:self] : [NSArray array];
}

- (BOOL)addMember:(KXRecord *)member {
  if (_readOnly || _book == nil || ![member isKindOfClass:[KXRecord class]]) return NO;
  if (member == self || [[member uniqueId] isEqualToString:_uniqueId]) return NO;
  if ([member _book] != _book || [member _kind] == 0) return NO;
  if ([self _hasMemberId:[member uniqueId]]) return NO;
  if (![_book _group:self willAddMember:member]) return NO;
  [_memberIds addObject:[member uniqueId]];
  [_memberIdSet addObject:[member uniqueId]];
  return YES;
}

- (BOOL)removeMember:(KXRecord *)member {
  if (_readOnly || _book == nil || ![member isKindOfClass:[KXRecord class]]) return NO;
  if (![self _hasMemberId:[member uniqueId]]) return NO;
  if (![_book _group:self willRemoveMember:member]) return NO;
  [_memberIds removeObject:[member uniqueId]];
  [_memberIdSet removeObject:[member uniqueId]];
  return YES;
}

// A scan of the array for a few members; a set beside it once there are many, so that adding
// thousands of members one by one (an import of a category) does not take quadratic time.
- (BOOL)_hasMemberId:(NSString *)uid {
  if (_memberIdSet == nil && [_memberIds count] > 32)
    _memberIdSet = [[NSMutableSet alloc] initWithArray:_memberIds];
  return _memberIdSet != nil ? [_memberIdSet containsObject:uid] : [_memberIds containsObject:uid];
}

- (NSArray *)_memberIds {
  return _memberIds;
}

- (void)_adoptMemberIds:(NSMutableArray *)memberIds {
  [memberIds retain];
  [_memberIds release];
  _memberIds = memberIds;
  DESTROY(_memberIdSet);
}

- (BOOL)_forgetMemberId:(NSString *)uid {
  NSUInteger index = [_memberIds indexOfObject:uid];
  if (index == NSNotFound) return NO;
  [_memberIds removeObjectAtIndex:index];
  [_memberIdSet removeObject:uid];
  return YES;
}

- (KXRecord *)_copyBoundTo:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  KXGroup *copy = (KXGroup *)[super _copyBoundTo:book readOnly:readOnly];
  NSMutableArray *memberIds = [_memberIds mutableCopy];
  [copy _adoptMemberIds:memberIds];
  [memberIds release];
  return copy;
}

@end
