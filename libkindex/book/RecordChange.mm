#import "book/RecordChange.h"

namespace kx {

RecordChange::~RecordChange() {
  clear();
}

RecordChange::RecordChange(RecordChange &&other) noexcept
    : kind(other.kind),
      added(other.added),
      removed(other.removed),
      seenSeq(other.seenSeq),
      dirty(std::move(other.dirty)),
      ours(other.ours),
      membersAdded(other.membersAdded),
      membersRemoved(other.membersRemoved),
      name(std::move(other.name)) {
  other.dirty.clear();
  other.ours = nullptr;
  other.membersAdded = other.membersRemoved = nil;
}

void RecordChange::clear() {
  for (const Dirty &d : dirty) {
    [d.key release];
    [d.base release];
  }
  std::vector<Dirty>().swap(dirty);
  KXValueList::destroy(ours);
  ours = nullptr;
  [membersAdded release];
  [membersRemoved release];
  membersAdded = membersRemoved = nil;
  name.clear();
  added = false;
}

const RecordChange::Dirty *RecordChange::dirtyFor(NSString *key) const {
  for (const Dirty &d : dirty) {
    if (d.key == key || [d.key isEqualToString:key]) return &d;
  }
  return nullptr;
}

void RecordChange::noteDirty(NSString *key, id base) {
  if (dirtyFor(key) != nullptr) return;
  dirty.push_back(Dirty{[key copy], [base retain]});
}

void RecordChange::addMember(NSString *uid) {
  [membersRemoved removeObject:uid];
  if (membersAdded == nil) membersAdded = [NSMutableArray new];
  if (![membersAdded containsObject:uid]) [membersAdded addObject:uid];
}

void RecordChange::removeMember(NSString *uid) {
  [membersAdded removeObject:uid];
  if (membersRemoved == nil) membersRemoved = [NSMutableArray new];
  if (![membersRemoved containsObject:uid]) [membersRemoved addObject:uid];
}

void RecordChange::noteReplacement(KXRecord *saved, KXRecord *record) {
  for (const KXValueList::Item &item : [saved _values]) noteDirty(item.key, item.value);
  for (const KXValueList::Item &item : [record _values]) noteDirty(item.key, nil);
  if (kind != KXRecordKindGroup) return;
  NSArray *before = [(KXGroup *)saved _memberIds], *after = [(KXGroup *)record _memberIds];
  for (NSUInteger i = 0; i < [before count]; i++) removeMember([before objectAtIndex:i]);
  for (NSUInteger i = 0; i < [after count]; i++) addMember([after objectAtIndex:i]);
}

}  // namespace kx
