#import "book/KXBookState.h"
#import "book/Merge.h"
#import "coding/KXCodec.h"
#import "KXPrivate.h"
#import "records/UniqueId.h"
#import "KXMakeError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>

namespace kx {

std::string keyOf(NSString *uid) {
  char text[48];
  size_t length = 0;
  if (KXIdStringText(uid, text, &length)) return std::string(text, length);
  const char *bytes = [uid UTF8String];
  return bytes != nullptr ? std::string(bytes) : std::string();
}

NSString *uidString(const UidKey &uid) {
  return [newString(uid.data(), uid.size()) autorelease];
}

namespace {

NSString *stringOf(const char *bytes, size_t length) {
  return [newString(bytes, length) autorelease];
}

// 1 when the directory holds nothing (not even hidden files), 0 when it holds something, -1
// when it cannot be read.
int isEmptyDirectory(const char *path) {
  DIR *dir = ::opendir(path);
  if (dir == nullptr) return -1;
  int empty = 1;
  while (struct dirent *entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = 0;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

}  // namespace

// A location that does not hold a book is an answer, not a failure, and it is the caller's
// to report (bookd, for one, keeps its standard error exact): open() logs nothing.
BookState *BookState::open(KXAddressBook *book, NSString *location, NSError **error) {
  struct stat info {};
  const char *directory = [location fileSystemRepresentation];
  if (::stat(directory, &info) != 0) {
    if (errno == EACCES) {
      KXMakeError(error, KXErrorPermissionDenied,
                  [NSString stringWithFormat:@"permission denied reading %@", location]);
    } else {
      KXMakeError(error, KXErrorNotABook, [NSString stringWithFormat:@"%@ does not exist", location]);
    }
    return nullptr;
  }
  if (!S_ISDIR(info.st_mode)) {
    KXMakeError(
        error, KXErrorNotABook,
        [NSString stringWithFormat:@"%@ is a file, not a directory holding an address book", location]);
    return nullptr;
  }
  NSString *path =
      [location stringByAppendingPathComponent:[NSString stringWithUTF8String:Store::fileName()]];
  bool create = false;
  if (::stat([path fileSystemRepresentation], &info) != 0) {
    // Only an empty directory becomes a new book: a mistyped path to some other directory
    // must not fill it with a book.
    int empty = errno == ENOENT ? isEmptyDirectory(directory) : -1;
    if (empty < 0) {
      KXMakeError(error, KXErrorPermissionDenied,
                  [NSString stringWithFormat:@"permission denied reading %@", location]);
      return nullptr;
    }
    if (empty == 0) {
      KXMakeError(error, KXErrorNotABook,
                  [NSString stringWithFormat:@"%@ holds files that are not an address book", location]);
      return nullptr;
    }
    create = true;
  }
  std::unique_ptr<Store> store;
  Status status = Store::open([path fileSystemRepresentation], create, &store);
  if (!status.isOk()) {
    KXMakeStoreError(error, status, location, create);
    return nullptr;
  }
  BookState *state = new BookState(book, std::move(store));
  status = state->load();
  if (!status.isOk()) {
    KXMakeStoreError(error, status, location, false);
    delete state;
    return nullptr;
  }
  return state;
}

BookState::~BookState() {
  for (auto &entry : records_) {
    if (!entry.second.removed) [entry.second.record _setBook:nil retain:NO];
    [entry.second.record release];
  }
}

BookState::OwnChange::~OwnChange() {
  [saved release];
}

void SaveReport::add(NSMutableArray *SaveReport::*list, NSString *uid) {
  if (this->*list == nil) this->*list = [NSMutableArray new];
  [this->*list addObject:uid];
}

void SaveReport::clear() {
  [merged release];
  [dropped release];
  merged = dropped = nil;
}

Status BookState::load() {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  size_t rows = 0;
  Status status = store_->loadAll(
      [&](const RowView &row) {
        NSString *uid = stringOf(row.uid, row.uidLength);
        KXRecord *record = decodeRecord(row.kind, uid, row.data, row.dataLength);
        if (record == nil) {
          NSLog(@"Kindex: skipping the unreadable record %@", uid);
          return;
        }
        [record _setBook:book_ retain:NO];
        insertEntry(records_.end(), std::string_view(row.uid, row.uidLength), Entry{record, row.seq, 0, 0});
        if (row.kind == KXRecordKindGroup) groups_.insert(std::string(row.uid, row.uidLength));
        if (row.name != nullptr) noteName(std::string_view(row.uid, row.uidLength), row.name, row.nameLength);
        times_[row.seq] = row.time;
        if (++rows % 1024 == 0) {
          [pool release];
          pool = [NSAutoreleasePool new];
        }
      },
      &seq_);
  [pool release];
  return status;
}

BookState::Records::const_iterator BookState::lookup(std::string_view uid) const {
  auto it = byUid_.find(uid);
  return it != byUid_.end() ? Records::const_iterator(it->second) : records_.end();
}

BookState::Records::iterator BookState::lookup(std::string_view uid) {
  auto it = byUid_.find(uid);
  return it != byUid_.end() ? it->second : records_.end();
}

// The hint is only a hint: a uid that does not sort last goes where it belongs.
BookState::Records::iterator BookState::insertEntry(Records::const_iterator hint, std::string_view uid,
                                                    const Entry &entry) {
  size_t before = records_.size();
  Records::iterator it = records_.emplace_hint(hint, uid, entry);
  if (records_.size() != before) byUid_.emplace(it->first.view(), it);
  return it;
}

void BookState::eraseEntry(Records::iterator entry) {
  byUid_.erase(entry->first.view());
  records_.erase(entry);
}

KXRecord *BookState::find(std::string_view uid) const {
  auto it = lookup(uid);
  return it != records_.end() && !it->second.removed ? it->second.record : nil;
}

KXRecord *BookState::savedOf(const Records::value_type &entry) const {
  const Entry &e = entry.second;
  if (e.seq == 0) return nil;
  if (e.changed && !e.removed) {
    auto own = own_.find(entry.first.view());
    if (own != own_.end()) return own->second.saved;
  }
  return e.record;
}

KXRecord *BookState::saved(std::string_view uid, uint64_t *seq) const {
  auto it = lookup(uid);
  KXRecord *record = it != records_.end() ? savedOf(*it) : nil;
  if (seq != nullptr) *seq = record != nil ? it->second.seq : 0;
  return record;
}

// The change of a stored record the book shows, made on its first change: the saved version
// is kept beside it (a copy sharing the value objects).
BookState::OwnChange *BookState::ownChange(Records::iterator entry) {
  auto it = own_.find(entry->first.view());
  if (it == own_.end()) {
    KXRecord *record = entry->second.record;
    it = own_.emplace(entry->first, OwnChange([record _kind])).first;
    it->second.saved = [record _copyBoundTo:nil readOnly:YES];
    it->second.change.seenSeq = seq_;
  }
  markChanged(entry);
  return &it->second;
}

void BookState::insertClean(std::string_view uid, KXRecord *record, uint64_t seq) {
  [record _setBook:book_ retain:NO];
  insertEntry(records_.end(), uid, Entry{record, seq, 0, 0});
  if ([record _kind] == KXRecordKindGroup) groups_.insert(std::string(uid));
}

void BookState::erase(Records::iterator entry) {
  if (entry->second.changed) {
    changedCount_--;
    changedListStale_ = true;
    std::vector<Records::iterator>().swap(changedList_);
  }
  if (!entry->second.removed) [entry->second.record _setBook:nil retain:NO];
  [entry->second.record release];
  auto own = own_.find(entry->first.view());
  if (own != own_.end()) own_.erase(own);
  groups_.erase(std::string(entry->first.view()));
  eraseEntry(entry);
}

void BookState::forgetMember(NSString *uid) {
  for (const auto &groupId : groups_) {
    auto it = records_.find(groupId);
    if (it == records_.end() || it->second.removed) continue;
    KXGroup *group = (KXGroup *)it->second.record;
    if (![[group _memberIds] containsObject:uid]) continue;
    if (it->second.seq == 0) {
      markChanged(it);
    } else {
      ownChange(it)->change.removeMember(uid);
    }
    [group _forgetMemberId:uid];
  }
}

void BookState::catchUp() {
  if (!store_->othersCommitted()) return;
  uint64_t seq = seq_;
  Status status = catchUpTo(&seq);
  // A read has no way to report this: it shows what it has, and the next save fails too.
  if (!status.isOk()) NSLog(@"Kindex: cannot read what others saved: %s", status.message().c_str());
}

Status BookState::catchUpTo(uint64_t *seq) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  Status status = store_->changesSince(
      seq_, [&](const char *uid, size_t length) { applyRemoved(std::string_view(uid, length)); },
      [&](const RowView &row) { applyWritten(row); }, seq);
  if (status.isOk()) seq_ = *seq;
  [pool release];
  return status;
}

void BookState::applyRemoved(std::string_view uid) {
  noteName(uid, nullptr, 0);
  auto it = lookup(uid);
  // A record only this book has, under a uid another book also made and removed, stays.
  if (it == records_.end() || it->second.seq == 0) return;
  Entry &entry = it->second;
  if (entry.changed && !entry.removed) dropped_.emplace_back(uid);
  bool clean = !entry.changed;
  erase(it);
  if (!clean) return;
  // The other process took it out of the groups it saved: so do the groups this book has not
  // changed. A group changed here keeps the uid, which members() skips while no such record
  // exists, until its merge with the other save's version of it.
  NSString *key = stringOf(uid.data(), uid.size());
  for (const auto &groupId : groups_) {
    auto group = records_.find(groupId);
    if (group != records_.end() && !group->second.changed)
      [(KXGroup *)group->second.record _forgetMemberId:key];
  }
}

void BookState::applyWritten(const RowView &row) {
  applyRow(row);
  noteName(std::string_view(row.uid, row.uidLength), row.name, row.nameLength);
  noteTime(row.seq, row.time);
}

// One time per save seen would grow for as long as the process runs: now and then the times
// no record refers to any more go.
void BookState::noteTime(uint64_t seq, int64_t time) {
  times_[seq] = time;
  if (times_.size() <= 2 * records_.size() + 1024) return;
  std::unordered_map<uint64_t, int64_t> kept;
  for (const auto &entry : records_) {
    auto it = times_.find(entry.second.seq);
    if (it != times_.end()) kept.insert(*it);
  }
  times_.swap(kept);
}

void BookState::noteName(std::string_view uid, const char *name, size_t length) {
  if (name == nullptr && namesByUid_.empty()) return;
  auto it = namesByUid_.find(uid);
  if (it != namesByUid_.end()) {
    if (name != nullptr && it->second->name == std::string_view(name, length)) return;
    namesByName_.erase(it->second->name);
    namesByUid_.erase(it);
  }
  if (name == nullptr) return;
  // A name moving from another record (another process renamed both) leaves that one nameless.
  auto holder = namesByName_.find(std::string_view(name, length));
  if (holder != namesByName_.end()) {
    std::string other = holder->second->uid;
    namesByName_.erase(holder);
    namesByUid_.erase(other);
  }
  std::unique_ptr<NamePair> pair(new NamePair{std::string(uid), std::string(name, length)});
  const NamePair *kept = pair.get();
  namesByUid_.emplace(kept->uid, std::move(pair));
  namesByName_.emplace(kept->name, kept);
}

std::string_view BookState::uidNamed(std::string_view name) const {
  if (namesByName_.empty()) return std::string_view();
  auto it = namesByName_.find(name);
  return it != namesByName_.end() ? std::string_view(it->second->uid) : std::string_view();
}

const std::string *BookState::nameOf(std::string_view uid) const {
  if (namesByUid_.empty()) return nullptr;
  auto it = namesByUid_.find(uid);
  return it != namesByUid_.end() ? &it->second->name : nullptr;
}

bool BookState::fillInfo(const Records::value_type &entry, KXSavedRecordInfo *info) const {
  KXRecord *record = savedOf(entry);
  if (record == nil) return false;
  info->uniqueId = entry.first.data();
  info->uniqueIdLength = entry.first.size();
  info->isGroup = [record _kind] == KXRecordKindGroup;
  info->version = entry.second.seq;
  auto time = times_.find(entry.second.seq);
  info->modified = time != times_.end() ? time->second : 0;
  const std::string *name = nameOf(entry.first.view());
  info->resourceName = name != nullptr ? name->data() : nullptr;
  info->resourceNameLength = name != nullptr ? name->size() : 0;
  return true;
}

bool BookState::savedInfo(std::string_view uid, KXSavedRecordInfo *info) const {
  auto it = lookup(uid);
  return it != records_.end() && fillInfo(*it, info);
}

// Catching up and reading the changes in one read transaction, so that what is reported is
// the state this book now shows, neither older nor newer.
Status BookState::changesSince(uint64_t since, const std::function<void(const KXSavedRecordInfo &)> &written,
                               const Store::RemovedFn &removed) {
  store_->othersCommitted();
  Status status = store_->beginRead();
  if (!status.isOk()) return status;
  uint64_t seq = seq_;
  status = catchUpTo(&seq);
  if (status.isOk() && since > seq_) status = Status(Status::kInvalid, "a save count beyond the book's");
  std::vector<std::string> uids;
  if (status.isOk()) {
    status = store_->changedUids(since, removed,
                                 [&](const char *uid, size_t length) { uids.emplace_back(uid, length); });
  }
  store_->endRead();
  if (!status.isOk()) return status;
  KXSavedRecordInfo info;
  for (const std::string &uid : uids) {
    if (savedInfo(uid, &info)) written(info);
  }
  return status;
}

void BookState::applyRow(const RowView &row) {
  std::string_view uid(row.uid, row.uidLength);
  auto it = lookup(uid);
  if (it != records_.end() && [it->second.record _kind] != row.kind) {
    // A uid that changed kind: as if removed and made anew.
    applyRemoved(uid);
    it = lookup(uid);
    if (it != records_.end()) return;  // the book's own record of that uid stays
  }
  if (it != records_.end() && !it->second.changed) {
    if (!decodeInto(it->second.record, row.data, row.dataLength)) {
      NSLog(@"Kindex: unreadable record %@", stringOf(row.uid, row.uidLength));
    }
    it->second.seq = row.seq;
    return;
  }
  // An entry's record already holds the uid as a string.
  NSString *uidText = it != records_.end() ? [it->second.record uniqueId] : stringOf(row.uid, row.uidLength);
  KXRecord *record = decodeRecord(row.kind, uidText, row.data, row.dataLength);
  if (record == nil) {
    NSLog(@"Kindex: unreadable record %@", uidText);
    return;
  }
  if (it == records_.end()) {
    insertClean(uid, record, row.seq);
    return;
  }
  Entry &entry = it->second;
  if (entry.removed) {
    [entry.record release];
    entry.record = record;
  } else if (entry.seq == 0) {
    // Two books made the same uid: the book's values win where it set them.
    OwnChange *own = ownChange(it);
    own->change.added = true;
    rebase(entry, *own, record);
    [record release];
  } else {
    rebase(entry, *ownChange(it), record);
    [record release];
  }
  entry.seq = row.seq;
}

// The book's changed record becomes the merge of its change with newSaved, and the change is
// rebased on newSaved: each changed property's base becomes newSaved's value, so that a later
// merge leaves to newer saves what the book did not change itself.
void BookState::rebase(Entry &entry, OwnChange &own, KXRecord *newSaved) {
  KXRecord *record = entry.record;
  RecordChange &change = own.change;
  const KXValueList &savedValues = [newSaved _values];
  KXValueList *merged = mergedValues(change, [record _values], &savedValues);
  if (change.added) {
    // Every value the book set counts as changed from nothing.
    for (const KXValueList::Item &item : [record _values]) change.noteDirty(item.key, nil);
    if ([record _kind] == KXRecordKindGroup) {
      NSArray *members = [(KXGroup *)record _memberIds];
      for (NSUInteger i = 0; i < [members count]; i++) change.addMember([members objectAtIndex:i]);
    }
    change.added = false;
  }
  for (RecordChange::Dirty &d : change.dirty) {
    id base = [savedValues.get(d.key) retain];
    [d.base release];
    d.base = base;
  }
  [record _adoptValues:merged];
  if ([record _kind] == KXRecordKindGroup) {
    NSMutableArray *members = mergedMembers(change, [(KXGroup *)newSaved _memberIds]);
    [(KXGroup *)record _adoptMemberIds:members];
  }
  [newSaved retain];
  [own.saved release];
  own.saved = newSaved;
}

NSArray *BookState::records(int kind) {
  catchUp();
  NSMutableArray *result =
      [NSMutableArray arrayWithCapacity:kind == KXRecordKindGroup ? groups_.size() : records_.size()];
  if (kind == KXRecordKindGroup) {
    for (const auto &uid : groups_) {
      KXRecord *group = find(uid);
      if (group != nil) [result addObject:group];
    }
  } else {
    for (const auto &entry : records_) {
      if (!entry.second.removed && [entry.second.record _kind] == kind)
        [result addObject:entry.second.record];
    }
  }
  return result;
}

KXRecord *BookState::record(NSString *uid) {
  if (![uid isKindOfClass:[NSString class]]) return nil;
  catchUp();
  return find(keyOf(uid));
}

bool BookState::add(KXRecord *record) {
  if (![record isKindOfClass:[KXRecord class]] || [record _kind] == 0) return false;
  if ([record _book] != nil || [record isReadOnly]) return false;
  std::string uid = keyOf([record uniqueId]);
  if (uid.empty()) return false;
  auto it = records_.find(uid);
  if (it == records_.end()) {
    it = insertEntry(records_.end(), uid, Entry{[record retain], 0, 0, 0});
    [record _setBook:book_ retain:NO];
    if ([record _kind] == KXRecordKindGroup) groups_.insert(uid);
    markChanged(it);
    return true;
  }
  Entry &entry = it->second;
  if (!entry.removed || [entry.record _kind] != [record _kind]) return false;
  // A record removed and added again before a save is still in the store: the added object
  // replaces it, as a change of every property and member in which the two differ.
  KXRecord *saved = entry.record;
  auto own = own_.emplace(it->first, OwnChange([record _kind])).first;
  own->second.saved = saved;
  own->second.change.seenSeq = seq_;
  own->second.change.noteReplacement(saved, record);
  entry.record = [record retain];
  entry.removed = 0;
  [record _setBook:book_ retain:NO];
  return true;
}

bool BookState::remove(KXRecord *record) {
  if (![record isKindOfClass:[KXRecord class]]) return false;
  std::string uid = keyOf([record uniqueId]);
  auto it = records_.find(uid);
  if (it == records_.end() || it->second.removed || it->second.record != record) return false;
  [record retain];
  if (it->second.seq == 0) {
    erase(it);
  } else {
    // Views still show the saved version until the removal is saved.
    auto own = own_.find(uid);
    KXRecord *saved = nil;
    if (own != own_.end()) {
      saved = [own->second.saved retain];
      own_.erase(own);
    } else {
      saved = [record _copyBoundTo:nil readOnly:YES];
    }
    [record _setBook:nil retain:NO];
    [record release];
    it->second.record = saved;
    it->second.removed = 1;
    markChanged(it);
  }
  forgetMember([record uniqueId]);
  [record _setBook:nil retain:NO];
  [record release];
  return true;
}

bool BookState::willSetValue(KXRecord *record, NSString *key) {
  auto it = records_.find(keyOf([record uniqueId]));
  if (it == records_.end() || it->second.removed || it->second.record != record) return false;
  if (it->second.seq == 0) {
    markChanged(it);
  } else {
    ownChange(it)->change.noteDirty(key, [record valueForProperty:key]);
  }
  return true;
}

bool BookState::willChangeMember(KXGroup *group, KXRecord *member, bool adding) {
  auto it = records_.find(keyOf([group uniqueId]));
  if (it == records_.end() || it->second.removed || it->second.record != group) return false;
  if (it->second.seq == 0) {
    markChanged(it);
  } else if (adding) {
    ownChange(it)->change.addMember([member uniqueId]);
  } else {
    ownChange(it)->change.removeMember([member uniqueId]);
  }
  return true;
}

void BookState::markChanged(Records::iterator entry) {
  if (entry == records_.end() || entry->second.changed) return;
  entry->second.changed = 1;
  changedCount_++;
  if (!changedListStale_) changedList_.push_back(entry);
}

const std::vector<BookState::Records::iterator> &BookState::changedInUidOrder() {
  if (changedListStale_) {
    changedList_.reserve(changedCount_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
      if (it->second.changed) changedList_.push_back(it);
    }
    changedListStale_ = false;
    return changedList_;
  }
  // New uids grow in creation order, so the list is most often sorted already. Rows written
  // in key order go to the end of the store's index instead of all over it.
  auto byUid = [](Records::iterator a, Records::iterator b) { return a->first.view() < b->first.view(); };
  if (!std::is_sorted(changedList_.begin(), changedList_.end(), byUid)) {
    std::sort(changedList_.begin(), changedList_.end(), byUid);
  }
  return changedList_;
}

NSArray *BookState::members(KXGroup *group) {
  NSArray *ids = [group _memberIds];
  NSMutableArray *result = [NSMutableArray arrayWithCapacity:[ids count]];
  for (NSUInteger i = 0; i < [ids count]; i++) {
    KXRecord *member = find(keyOf([ids objectAtIndex:i]));
    if (member != nil) [result addObject:member];
  }
  return result;
}

NSArray *BookState::parentGroups(KXRecord *record) {
  NSMutableArray *result = [NSMutableArray array];
  NSString *uid = [record uniqueId];
  for (const auto &groupId : groups_) {
    KXGroup *group = (KXGroup *)find(groupId);
    if (group != nil && [[group _memberIds] containsObject:uid]) [result addObject:group];
  }
  return result;
}

// After catching up inside the save's transaction, each changed record already is the merge
// of the book's change with what the store holds (rebase), so it is written as it is.
Status BookState::writeChanged(uint64_t next, SaveReport *report) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  Status status;
  std::string data;
  size_t written = 0;
  for (Records::iterator it : changedInUidOrder()) {
    const UidKey &uid = it->first;
    const Entry &entry = it->second;
    if (entry.removed) {
      status = store_->erase(uid.data(), uid.size(), next);
    } else {
      data.clear();
      encodeRecord(entry.record, &data);
      status = store_->put(uid.data(), uid.size(), [entry.record _kind], data.data(), data.size(), next);
      auto own = own_.find(uid.view());
      if (own != own_.end() && entry.seq > own->second.change.seenSeq) {
        report->add(&SaveReport::merged, [entry.record uniqueId]);
      }
    }
    if (!status.isOk()) break;
    if (++written % 1024 == 0) {
      [pool release];
      pool = [NSAutoreleasePool new];
    }
  }
  [pool release];
  return status;
}

void BookState::clearChanged() {
  std::vector<Records::iterator> gone;
  for (Records::iterator it : changedInUidOrder()) {
    if (it->second.removed) {
      gone.push_back(it);
    } else {
      it->second.changed = 0;
    }
  }
  for (Records::iterator it : gone) {
    noteName(it->first.view(), nullptr, 0);
    [it->second.record release];
    groups_.erase(std::string(it->first.view()));
    eraseEntry(it);
  }
  own_.clear();
  changedCount_ = 0;
  std::vector<Records::iterator>().swap(changedList_);
  changedListStale_ = false;
}

Status BookState::commitSave(Status status, uint64_t next, int64_t now, SaveReport *report) {
  if (status.isOk()) status = store_->commit(next, now);
  if (!status.isOk()) {
    store_->rollback();
    report->clear();
  }
  return status;
}

Status BookState::save(SaveReport *report) {
  if (!hasUnsavedChanges() && dropped_.empty()) return Status::ok();
  uint64_t current = 0;
  Status status = store_->begin(&current);
  if (!status.isOk()) return status;
  // Merge in what others saved while we hold the write lock, so that what is written is
  // merged with the latest of theirs, and seq_ can move to the new save without skipping any.
  status = catchUpTo(&current);
  uint64_t next = current + 1;
  if (status.isOk()) status = writeChanged(next, report);
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  status = commitSave(status, next, now, report);
  if (!status.isOk()) return status;
  for (Records::iterator it : changedInUidOrder()) it->second.seq = next;
  clearChanged();
  seq_ = next;
  noteTime(next, now);
  for (const std::string &uid : dropped_) {
    report->add(&SaveReport::dropped, [NSString stringWithUTF8String:uid.c_str()]);
  }
  dropped_.clear();
  return status;
}

namespace {

bool holds(const Requirement &requirement, KXRecord *saved, uint64_t savedSeq) {
  for (uint64_t version : requirement.versions) {
    if (version == KXRecordAbsent ? saved == nil
                                  : saved != nil && (version == KXRecordAtAnyVersion || version == savedSeq))
      return true;
  }
  return false;
}

}  // namespace

Status BookState::save(ChangeSet &changes, const std::vector<Requirement> &requirements, SaveReport *report) {
  if (changes.empty() && requirements.empty()) return Status::ok();
  uint64_t current = 0;
  Status status = store_->begin(&current);
  if (!status.isOk()) return status;
  status = catchUpTo(&current);
  // Checked with the write lock held and the state caught up: what is checked is what the
  // save writes over.
  for (size_t i = 0; status.isOk() && i < requirements.size(); i++) {
    uint64_t savedSeq = 0;
    KXRecord *saved = this->saved(requirements[i].uid, &savedSeq);
    if (!holds(requirements[i], saved, savedSeq)) {
      status = Status(Status::kNotAtVersion, "the record " + requirements[i].uid +
                                                 (saved == nil ? " is not there" : " is at another version"));
    }
  }
  // A save that only checked writes nothing, and counts as no save.
  if (!status.isOk() || changes.empty()) {
    store_->rollback();
    return status;
  }
  uint64_t next = current + 1;
  // What was written, to be put into the saved state once committed.
  struct Row {
    const UidKey *uid;
    int kind;
    std::string data;
    std::string name;
  };
  std::vector<Row> written;
  std::vector<const UidKey *> erased;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  // Removals first, so that a name they free can be given in the same save.
  for (auto it = changes.begin(); status.isOk() && it != changes.end(); ++it) {
    if (!it->second.removed || this->saved(it->first.view()) == nil) continue;
    status = store_->erase(it->first.data(), it->first.size(), next);
    erased.push_back(&it->first);
  }
  for (auto it = changes.begin(); status.isOk() && it != changes.end(); ++it) {
    const UidKey &uid = it->first;
    const RecordChange &change = it->second;
    if (change.removed) continue;
    uint64_t savedSeq = 0;
    KXRecord *saved = this->saved(uid.view(), &savedSeq);
    if (saved == nil && !change.added) {
      report->add(&SaveReport::dropped, uidString(uid));
      continue;
    }
    int kind = saved != nil ? [saved _kind] : change.kind;
    KXValueList *empty = KXValueList::make(0);
    KXValueList *values = mergedValues(change, change.ours != nullptr ? *change.ours : *empty,
                                       saved != nil ? &[saved _values] : nullptr);
    NSArray *members = kind == KXRecordKindGroup
                           ? mergedMembers(change, saved != nil ? [(KXGroup *)saved _memberIds] : nil)
                           : nil;
    const std::string *name = nameOf(uid.view());
    written.push_back(
        Row{&uid, kind, std::string(), change.name.empty() && name != nullptr ? *name : change.name});
    encodeRecord(*values, members, &written.back().data);
    KXValueList::destroy(values);
    KXValueList::destroy(empty);
    const std::string &data = written.back().data;
    status = store_->put(uid.data(), uid.size(), kind, data.data(), data.size(), next);
    if (status.isOk() && !change.name.empty() && (name == nullptr || *name != change.name))
      status = store_->setName(uid.data(), uid.size(), change.name);
    if (saved != nil && savedSeq > change.seenSeq) report->add(&SaveReport::merged, uidString(uid));
  }
  [pool release];
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  status = commitSave(status, next, now, report);
  if (!status.isOk()) return status;
  // The book takes the save in as it takes in another process's.
  pool = [NSAutoreleasePool new];
  for (const UidKey *uid : erased) applyRemoved(uid->view());
  for (const Row &row : written) {
    applyWritten(RowView{row.uid->data(), row.uid->size(), row.kind, row.data.data(), row.data.size(), next,
                         row.name.empty() ? nullptr : row.name.data(), row.name.size(), now});
  }
  [pool release];
  seq_ = next;
  noteTime(next, now);
  changes.clear();
  return status;
}

}  // namespace kx
