#import "views/KXViewEndpoint.h"
#import "coding/KXCodec.h"
#import "KXPrivate.h"

static BOOL KXIsLocal(id object, Class cls) {
  return object != nil && ![object isProxy] && [object isKindOfClass:cls];
}

static NSData *KXEmptyBatch(void) {
  return kx::encodeBatch([NSArray array]);
}

@implementation KXViewEndpoint

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  if ((self = [super init]) != nil) {
    _book = [book retain];
    _readOnly = readOnly;
  }
  return self;
}

- (void)dealloc {
  [_book release];
  [super dealloc];
}

- (id)vendable {
  return [NSProtocolChecker protocolCheckerWithTarget:self protocol:@protocol(KXViewServing)];
}

- (KXRecord *)_recordWithId:(NSString *)uid {
  return KXIsLocal(uid, [NSString class]) ? [_book recordForUniqueId:uid] : nil;
}

- (NSData *)peopleData {
  return kx::encodeBatch([_book people]);
}

- (NSData *)groupsData {
  return kx::encodeBatch([_book groups]);
}

- (NSData *)dataForRecordWithId:(NSString *)uid {
  KXRecord *record = [self _recordWithId:uid];
  return record != nil ? kx::encodeBatch([NSArray arrayWithObject:record]) : KXEmptyBatch();
}

- (NSData *)membersDataOfGroupWithId:(NSString *)uid {
  KXRecord *group = [self _recordWithId:uid];
  return [group isKindOfClass:[KXGroup class]] ? kx::encodeBatch([(KXGroup *)group members]) : KXEmptyBatch();
}

- (NSData *)parentGroupsDataOfRecordWithId:(NSString *)uid {
  KXRecord *record = [self _recordWithId:uid];
  return [record isKindOfClass:[KXPerson class]] ? kx::encodeBatch([(KXPerson *)record parentGroups])
                                                 : KXEmptyBatch();
}

- (BOOL)setValueData:(NSData *)value forProperty:(NSString *)property ofRecordWithId:(NSString *)uid {
  if (_readOnly || !KXIsLocal(value, [NSData class]) || !KXIsLocal(property, [NSString class])) return NO;
  id decoded = nil;
  if (!kx::decodeValue(value, &decoded)) return NO;
  KXRecord *record = [self _recordWithId:uid];
  return record != nil && [record setValue:decoded forProperty:property];
}

- (BOOL)addRecordData:(NSData *)data {
  if (_readOnly || !KXIsLocal(data, [NSData class])) return NO;
  NSArray *records = kx::decodeBatch(data, nil, NO);
  if ([records count] != 1) return NO;
  return [_book addRecord:[records objectAtIndex:0]];
}

- (BOOL)removeRecordWithId:(NSString *)uid {
  if (_readOnly) return NO;
  KXRecord *record = [self _recordWithId:uid];
  return record != nil && [_book removeRecord:record];
}

- (BOOL)addMemberWithId:(NSString *)memberId toGroupWithId:(NSString *)groupId {
  if (_readOnly) return NO;
  KXRecord *group = [self _recordWithId:groupId];
  KXRecord *member = [self _recordWithId:memberId];
  return [group isKindOfClass:[KXGroup class]] && member != nil && [(KXGroup *)group addMember:member];
}

- (BOOL)removeMemberWithId:(NSString *)memberId fromGroupWithId:(NSString *)groupId {
  if (_readOnly) return NO;
  KXRecord *group = [self _recordWithId:groupId];
  KXRecord *member = [self _recordWithId:memberId];
  return [group isKindOfClass:[KXGroup class]] && member != nil && [(KXGroup *)group removeMember:member];
}

- (BOOL)save {
  return !_readOnly && [_book save];
}

- (BOOL)hasUnsavedChanges {
  return [_book hasUnsavedChanges];
}

- (BOOL)isReadOnly {
  return _readOnly;
}

@end
