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
  if ([_memberIds containsObject:[member uniqueId]]) return NO;
  if (![_book _group:self willAddMember:member]) return NO;
  [_memberIds addObject:[member uniqueId]];
  return YES;
}

- (BOOL)removeMember:(KXRecord *)member {
  if (_readOnly || _book == nil || ![member isKindOfClass:[KXRecord class]]) return NO;
  if (![_memberIds containsObject:[member uniqueId]]) return NO;
  if (![_book _group:self willRemoveMember:member]) return NO;
  [_memberIds removeObject:[member uniqueId]];
  return YES;
}

- (NSArray *)_memberIds {
  return _memberIds;
}

- (void)_adoptMemberIds:(NSMutableArray *)memberIds {
  [memberIds retain];
  [_memberIds release];
  _memberIds = memberIds;
}

- (BOOL)_forgetMemberId:(NSString *)uid {
  NSUInteger index = [_memberIds indexOfObject:uid];
  if (index == NSNotFound) return NO;
  [_memberIds removeObjectAtIndex:index];
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
