#import "views/KXLocalView.h"
#import "views/KXViewEndpoint.h"
#import "views/ViewState.h"
#import "KXMakeError.h"
#import "KXPrivate.h"

@implementation KXLocalView

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  // Views show a stored book's saved state: of any other kind of book there is none.
  if (![book isKindOfClass:[KXLocalAddressBook class]] || (self = [super init]) == nil) {
    [self release];
    return nil;
  }
  _book = (KXLocalAddressBook *)[book retain];
  _readOnly = readOnly;
  _state = new kx::ViewState([_book _state]);
  return self;
}

- (void)dealloc {
  delete _state;
  [_book release];
  [super dealloc];
}

- (kx::ViewState *)_state {
  return _state;
}

- (NSString *)_location {
  return [_book location];
}

// A record for the caller: bound to this view (which it keeps alive), read-only in a
// read-only view.
- (KXRecord *)_handOut:(KXRecord *)record {
  [record _setBook:self retain:YES];
  [record _setReadOnly:_readOnly];
  return [record autorelease];
}

- (NSArray *)_handOutAll:(NSArray *)records {
  for (NSUInteger i = 0; i < [records count]; i++) {
    KXRecord *record = [records objectAtIndex:i];
    [record _setBook:self retain:YES];
    [record _setReadOnly:_readOnly];
  }
  return records;
}

- (NSArray *)_records:(int)kind {
  // The lambdas of this file capture locals only: GCC's Objective-C++ fails on self in one.
  kx::ViewState *state = _state;
  state->catchUp();
  NSMutableArray *records = [NSMutableArray array];
  state->forEach(kind, [&](NSString *uid, KXRecord *saved, const kx::RecordChange *change) {
    KXRecord *record = state->record(uid, saved, change);
    if (record != nil) [records addObject:record];
    [record release];
  });
  return [self _handOutAll:records];
}

- (NSArray *)people {
  return [self _records:KXRecordKindPerson];
}

- (NSArray *)groups {
  return [self _records:KXRecordKindGroup];
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  if (![uniqueId isKindOfClass:[NSString class]]) return nil;
  _state->catchUp();
  KXRecord *record = _state->record(uniqueId);
  return record != nil ? [self _handOut:record] : nil;
}

- (BOOL)addRecord:(KXRecord *)record {
  if (_readOnly || ![record isKindOfClass:[KXRecord class]] || [record _kind] == 0) return NO;
  if ([record _book] != nil || [record isReadOnly]) return NO;
  _state->catchUp();
  if (!_state->add(record)) return NO;
  [record _setBook:self retain:YES];
  return YES;
}

- (BOOL)removeRecord:(KXRecord *)record {
  if (_readOnly || ![record isKindOfClass:[KXRecord class]] || [record _book] != self) return NO;
  _state->catchUp();
  if (!_state->remove([record uniqueId])) return NO;
  [record _setBook:nil retain:NO];
  return YES;
}

- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  if (conflicts != NULL) *conflicts = nil;
  if (_readOnly) {
    KXMakeError(error, KXErrorReadOnly, @"this view of the address book is read-only");
    return NO;
  }
  kx::SaveReport report;
  kx::Status status = _state->save(&report);
  if (!status.isOk()) {
    KXMakeStoreError(error, status, [_book location], true);
    return NO;
  }
  if (conflicts != NULL) *conflicts = KXConflictError(report.merged, report.dropped);
  return YES;
}

- (BOOL)hasUnsavedChanges {
  return _state->hasUnsavedChanges();
}

// The hooks are reached only by records bound to this view; read-only ones refuse before
// asking. The record's own value is the base: what this caller saw.

- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  if (_readOnly) return NO;
  return _state->setValue([record uniqueId], property, [record valueForProperty:property], value);
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  return !_readOnly && _state->changeMember([group uniqueId], [member uniqueId], true);
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  return !_readOnly && _state->changeMember([group uniqueId], [member uniqueId], false);
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  _state->catchUp();
  NSArray *ids = _state->memberIds([group uniqueId]);
  NSMutableArray *members = [NSMutableArray arrayWithCapacity:[ids count]];
  for (NSUInteger i = 0; i < [ids count]; i++) {
    KXRecord *member = _state->record([ids objectAtIndex:i]);
    if (member != nil) [members addObject:member];
    [member release];
  }
  return [self _handOutAll:members];
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  _state->catchUp();
  NSArray *ids = _state->parentGroupIds([record uniqueId]);
  NSMutableArray *parents = [NSMutableArray arrayWithCapacity:[ids count]];
  for (NSUInteger i = 0; i < [ids count]; i++) {
    KXRecord *group = _state->record([ids objectAtIndex:i]);
    if (group != nil) [parents addObject:group];
    [group release];
  }
  return [self _handOutAll:parents];
}

// Sent over a connection, the view travels by copy (a KXRemoteView on the other side),
// carrying its mode and a reference to an endpoint that wraps this view: no proxy to the book
// itself ever leaves this process, and the view, with its changes, lives as long as the
// peer holds the endpoint.
- (void)encodeWithCoder:(NSCoder *)coder {
  id endpoint = nil;
  if ([coder isKindOfClass:[NSPortCoder class]]) {
    KXViewEndpoint *own = [[KXViewEndpoint alloc] initWithView:self];
    endpoint = [own vendable];
    [own release];
  }
  // Only a connection can carry the endpoint; an archived view decodes as nil.
  [coder encodeValueOfObjCType:@encode(BOOL) at:&_readOnly];
  [coder encodeObject:endpoint];
}

@end
