#import <Kindex/KXLocalAddressBook.h>
#import <Kindex/KXRecord.h>
#import "KXPrivate.h"
#import "book/KXBookState.h"
#import "KXMakeError.h"

@implementation KXLocalAddressBook

+ (NSString *)sharedAddressBookLocation {
  NSArray *dirs = NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, YES);
  if ([dirs count] == 0) return nil;
  return [[[dirs objectAtIndex:0] stringByAppendingPathComponent:@"Kindex"]
      stringByAppendingPathComponent:@"AddressBook"];
}

- (id)initWithLocation:(NSString *)location {
  return [self initWithLocation:location error:NULL];
}

- (id)initWithLocation:(NSString *)location error:(NSError **)error {
  if ((self = [super init]) == nil) return nil;
  kx::BookState *state = nullptr;
  if ([location isKindOfClass:[NSString class]] && [location length] > 0) {
    state = kx::BookState::open(self, location, error);
  } else {
    KXMakeError(error, KXErrorNotABook, @"no location given for the address book");
  }
  if (state == nullptr) {
    [self release];
    return nil;
  }
  _impl = state;
  _location = [location copy];
  return self;
}

- (void)dealloc {
  delete static_cast<kx::BookState *>(_impl);
  [_location release];
  [super dealloc];
}

- (kx::BookState *)_state {
  return static_cast<kx::BookState *>(_impl);
}

- (NSString *)location {
  return _location;
}

- (NSArray *)people {
  return [self _state]->records(KXRecordKindPerson);
}

- (NSArray *)groups {
  return [self _state]->records(KXRecordKindGroup);
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  return [self _state]->record(uniqueId);
}

- (BOOL)addRecord:(KXRecord *)record {
  return [self _state]->add(record);
}

- (BOOL)removeRecord:(KXRecord *)record {
  return [self _state]->remove(record);
}

- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  if (conflicts != NULL) *conflicts = nil;
  kx::SaveReport report;
  kx::Status status = [self _state]->save(&report);
  if (!status.isOk()) {
    KXMakeStoreError(error, status, _location, true);
    return NO;
  }
  if (conflicts != NULL) *conflicts = KXConflictError(report.merged, report.dropped);
  return YES;
}

- (BOOL)hasUnsavedChanges {
  return [self _state]->hasUnsavedChanges();
}

- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  return [self _state]->willSetValue(record, property);
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  return [self _state]->willChangeMember(group, member, true);
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  return [self _state]->willChangeMember(group, member, false);
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  return [self _state]->members(group);
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  return [self _state]->parentGroups(record);
}

- (void)_setBusyTimeout:(int)milliseconds {
  [self _state]->setBusyTimeout(milliseconds);
}

@end
