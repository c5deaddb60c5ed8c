#import "views/ViewState.h"
#import "book/Merge.h"
#import "coding/KXCodec.h"

namespace kx {

namespace {

Class classOf(int kind) {
  return kind == KXRecordKindGroup ? [KXGroup class] : [KXPerson class];
}

}  // namespace

const RecordChange *ViewState::changeOf(std::string_view uid) const {
  auto it = changes_.find(uid);
  return it != changes_.end() ? &it->second : nullptr;
}

RecordChange &ViewState::changeFor(const std::string &uid, int kind) {
  auto it = changes_.find(uid);
  if (it == changes_.end()) {
    it = changes_.emplace(std::piecewise_construct, std::forward_as_tuple(uid), std::forward_as_tuple(kind))
             .first;
    it->second.seenSeq = book_->seq();
  }
  return it->second;
}

bool ViewState::shows(KXRecord *saved, const RecordChange *change) const {
  if (change == nullptr) return saved != nil;
  // A record another save removed shows no more, whatever the view changed in it.
  return !change->removed && (saved != nil || change->added);
}

bool ViewState::shows(NSString *uid) const {
  std::string key = keyOf(uid);
  return shows(book_->saved(key), changeOf(key));
}

KXValueList *ViewState::values(KXRecord *saved, const RecordChange &change) const {
  KXValueList *empty = change.ours == nullptr ? KXValueList::make(0) : nullptr;
  KXValueList *merged = mergedValues(change, change.ours != nullptr ? *change.ours : *empty,
                                     saved != nil ? &[saved _values] : nullptr);
  KXValueList::destroy(empty);
  return merged;
}

NSArray *ViewState::members(KXRecord *saved, const RecordChange &change) const {
  return mergedMembers(change, saved != nil ? [(KXGroup *)saved _memberIds] : nil);
}

KXRecord *ViewState::record(NSString *uid, KXRecord *saved, const RecordChange *change) const {
  if (!shows(saved, change)) return nil;
  if (change == nullptr) return [saved _copyBoundTo:nil readOnly:NO];
  int kind = kindOf(saved, change);
  KXRecord *record = [[classOf(kind) alloc] _initWithUniqueId:uid];
  [record _adoptValues:values(saved, *change)];
  if (kind == KXRecordKindGroup) {
    [(KXGroup *)record _adoptMemberIds:[NSMutableArray arrayWithArray:members(saved, *change)]];
  }
  return record;
}

KXRecord *ViewState::record(NSString *uid) const {
  std::string key = keyOf(uid);
  return record(uid, book_->saved(key), changeOf(key));
}

void ViewState::addToBatch(BatchWriter *batch, NSString *uid, KXRecord *saved,
                           const RecordChange *change) const {
  if (!shows(saved, change)) return;
  if (change == nullptr) {
    batch->add(saved);
    return;
  }
  int kind = kindOf(saved, change);
  KXValueList *merged = values(saved, *change);
  batch->add(uid, kind, *merged, kind == KXRecordKindGroup ? members(saved, *change) : nil);
  KXValueList::destroy(merged);
}

void ViewState::addToBatch(BatchWriter *batch, NSString *uid) const {
  std::string key = keyOf(uid);
  addToBatch(batch, uid, book_->saved(key), changeOf(key));
}

NSArray *ViewState::memberIds(NSString *uid) const {
  std::string key = keyOf(uid);
  KXRecord *saved = book_->saved(key);
  const RecordChange *change = changeOf(key);
  if (!shows(saved, change) || kindOf(saved, change) != KXRecordKindGroup) return nil;
  return change != nullptr ? members(saved, *change) : [(KXGroup *)saved _memberIds];
}

NSArray *ViewState::parentGroupIds(NSString *uid) const {
  NSMutableArray *parents = [NSMutableArray array];
  forEach(KXRecordKindGroup, [&](NSString *groupId, KXRecord *group, const RecordChange *change) {
    if (!shows(group, change)) return;
    NSArray *ids = change != nullptr ? members(group, *change) : [(KXGroup *)group _memberIds];
    if ([ids containsObject:uid]) [parents addObject:groupId];
  });
  return parents;
}

bool ViewState::setValue(NSString *uid, NSString *key, id base, id value) {
  std::string uidKey = keyOf(uid);
  KXRecord *saved = book_->saved(uidKey);
  const RecordChange *existing = changeOf(uidKey);
  if (!shows(saved, existing)) return false;
  RecordChange &change = changeFor(uidKey, kindOf(saved, existing));
  if (!change.added) change.noteDirty(key, base);
  if (change.ours == nullptr) change.ours = KXValueList::make(1);
  if (value != nil) {
    NSString *ownKey = [key copy];
    KXValueList::set(change.ours, ownKey, value);
    [ownKey release];
  } else {
    change.ours->remove(key);
  }
  return true;
}

bool ViewState::add(KXRecord *record) {
  NSString *uid = [record uniqueId];
  std::string key = keyOf(uid);
  if (key.empty() || shows(uid)) return false;
  KXRecord *saved = book_->saved(key);
  if (saved != nil && [saved _kind] != [record _kind]) return false;
  RecordChange &change = changeFor(key, [record _kind]);
  change.clear();
  change.removed = false;
  if (saved != nil) {
    // Removed by this view and added again: the record replaces the stored one.
    change.noteReplacement(saved, record);
  } else {
    change.added = true;
    NSArray *members = [record _kind] == KXRecordKindGroup ? [(KXGroup *)record _memberIds] : nil;
    for (NSUInteger i = 0; i < [members count]; i++) change.addMember([members objectAtIndex:i]);
  }
  change.ours = KXValueList::clone(&[record _values]);
  return true;
}

bool ViewState::remove(NSString *uid) {
  std::string key = keyOf(uid);
  KXRecord *saved = book_->saved(key);
  if (!shows(saved, changeOf(key))) return false;
  // Also out of every group the view shows it in.
  NSArray *groups = parentGroupIds(uid);
  for (NSUInteger i = 0; i < [groups count]; i++) changeMember([groups objectAtIndex:i], uid, false);
  if (saved == nil) {
    changes_.erase(changes_.find(key));
    return true;
  }
  RecordChange &change = changeFor(key, [saved _kind]);
  change.clear();
  change.removed = true;
  return true;
}

bool ViewState::setName(NSString *uid, const std::string &name) {
  std::string key = keyOf(uid);
  KXRecord *saved = book_->saved(key);
  const RecordChange *existing = changeOf(key);
  if (!shows(saved, existing)) return false;
  const std::string *current = book_->nameOf(key);
  if (current != nullptr && *current != name) return false;
  changeFor(key, kindOf(saved, existing)).name = name;
  return true;
}

bool ViewState::changeMember(NSString *groupId, NSString *memberId, bool adding) {
  if (!shows(groupId) || (adding && !shows(memberId))) return false;
  RecordChange &change = changeFor(keyOf(groupId), KXRecordKindGroup);
  if (adding) {
    change.addMember(memberId);
  } else {
    change.removeMember(memberId);
  }
  return true;
}

}  // namespace kx
