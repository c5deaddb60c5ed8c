#import "book/KXBookState.h"
#import "coding/KXCodec.h"
#import "KXPrivate.h"
#import "records/UniqueId.h"
#import "KXMakeError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace kx {

namespace {

std::string keyOf(NSString *uid) {
  char text[48];
  size_t length = 0;
  if (KXIdStringText(uid, text, &length)) return std::string(text, length);
  const char *bytes = [uid UTF8String];
  return bytes != nullptr ? std::string(bytes) : std::string();
}

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
    [entry.second.record _setBook:nil retain:NO];
    [entry.second.record release];
  }
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
        records_.emplace_hint(records_.end(), std::string_view(row.uid, row.uidLength),
                              Entry{record, false, false});
        if (row.kind == KXRecordKindGroup) groups_.insert(std::string(row.uid, row.uidLength));
        if (++rows % 1024 == 0) {
          [pool release];
          pool = [NSAutoreleasePool new];
        }
      },
      &seq_);
  [pool release];
  return status;
}

KXRecord *BookState::find(const std::string &uid) const {
  auto it = records_.find(uid);
  return it != records_.end() ? it->second.record : nil;
}

void BookState::forgetMember(const std::string &uid) {
  NSString *key = [NSString stringWithUTF8String:uid.c_str()];
  for (const auto &groupId : groups_) {
    KXGroup *group = (KXGroup *)find(groupId);
    if ([group _forgetMemberId:key]) markChanged(records_.find(groupId));
  }
}

void BookState::catchUp() {
  if (!store_->othersCommitted()) return;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  Status status = store_->changesSince(
      seq_, [&](const char *uid, size_t length) { applyRemoved(std::string(uid, length)); },
      [&](const RowView &row) { applyWritten(row); }, &seq_);
  if (!status.isOk()) NSLog(@"Kindex: cannot read what others saved: %s", status.message().c_str());
  [pool release];
}

void BookState::applyRemoved(const std::string &uid) {
  // An unsaved local change wins: the next save writes the record back.
  auto it = records_.find(uid);
  if (it == records_.end() || it->second.changed) return;
  KXRecord *record = it->second.record;
  records_.erase(it);
  groups_.erase(uid);
  // The other process took it out of the groups it saved; groups changed here keep the
  // uid, which members() skips while no such record exists.
  NSString *key = [NSString stringWithUTF8String:uid.c_str()];
  for (const auto &groupId : groups_) {
    if (!isChanged(groupId)) [(KXGroup *)find(groupId) _forgetMemberId:key];
  }
  [record _setBook:nil retain:NO];
  [record release];
}

void BookState::applyWritten(const RowView &row) {
  std::string uid(row.uid, row.uidLength);
  if (isChanged(uid) || removed_.count(uid) != 0) return;
  KXRecord *existing = find(uid);
  if (existing != nil && [existing _kind] == row.kind) {
    if (!decodeInto(existing, row.data, row.dataLength)) NSLog(@"Kindex: unreadable record %s", uid.c_str());
    return;
  }
  KXRecord *record = decodeRecord(row.kind, stringOf(row.uid, row.uidLength), row.data, row.dataLength);
  if (record == nil) {
    NSLog(@"Kindex: unreadable record %s", uid.c_str());
    return;
  }
  if (existing != nil) {
    [existing _setBook:nil retain:NO];
    [existing release];
  }
  [record _setBook:book_ retain:NO];
  auto it = records_.find(uid);
  if (it != records_.end()) {
    it->second = Entry{record, false, false};
  } else {
    records_.emplace(uid, Entry{record, false, false});
  }
  if (row.kind == KXRecordKindGroup)
    groups_.insert(uid);
  else
    groups_.erase(uid);
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
      if ([entry.second.record _kind] == kind) [result addObject:entry.second.record];
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
  if (uid.empty() || records_.count(uid) != 0) return false;
  // A record removed and added again before a save is still in the store.
  bool stored = removed_.erase(uid) != 0;
  auto it = records_.emplace(uid, Entry{[record retain], !stored, false}).first;
  [record _setBook:book_ retain:NO];
  if ([record _kind] == KXRecordKindGroup) groups_.insert(uid);
  markChanged(it);
  return true;
}

bool BookState::remove(KXRecord *record) {
  if (![record isKindOfClass:[KXRecord class]]) return false;
  std::string uid = keyOf([record uniqueId]);
  auto it = records_.find(uid);
  if (it == records_.end() || it->second.record != record) return false;
  bool added = it->second.added;
  if (it->second.changed) {
    changedCount_--;
    changedListStale_ = true;
    std::vector<Records::iterator>().swap(changedList_);
  }
  records_.erase(it);
  groups_.erase(uid);
  forgetMember(uid);
  if (!added) removed_.insert(uid);
  [record _setBook:nil retain:NO];
  [record release];
  return true;
}

bool BookState::markChanged(KXRecord *record) {
  markChanged(records_.find(keyOf([record uniqueId])));
  return true;
}

void BookState::markChanged(Records::iterator entry) {
  if (entry == records_.end() || entry->second.changed) return;
  entry->second.changed = true;
  changedCount_++;
  if (!changedListStale_) changedList_.push_back(entry);
}

bool BookState::isChanged(const std::string &uid) const {
  auto it = records_.find(uid);
  return it != records_.end() && it->second.changed;
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
    if ([[group _memberIds] containsObject:uid]) [result addObject:group];
  }
  return result;
}

Status BookState::save() {
  if (!hasUnsavedChanges()) return Status::ok();
  uint64_t current = 0;
  Status status = store_->begin(&current);
  if (!status.isOk()) return status;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  // Merge in what others saved while we hold the write lock, so that seq_ can move to the
  // new save without skipping theirs.
  status = store_->changesSince(
      seq_, [&](const char *uid, size_t length) { applyRemoved(std::string(uid, length)); },
      [&](const RowView &row) { applyWritten(row); }, &current);
  uint64_t next = current + 1;
  std::string data;
  size_t written = 0;
  const std::vector<Records::iterator> &changed = changedInUidOrder();
  for (auto it = changed.begin(); status.isOk() && it != changed.end(); ++it) {
    const UidKey &uid = (*it)->first;
    KXRecord *record = (*it)->second.record;
    data.clear();
    encodeRecord(record, &data);
    status = store_->put(uid.data(), uid.size(), [record _kind], data.data(), data.size(), next);
    if (++written % 1024 == 0) {
      [pool release];
      pool = [NSAutoreleasePool new];
    }
  }
  for (auto it = removed_.begin(); status.isOk() && it != removed_.end(); ++it) {
    status = store_->erase(it->data(), it->size(), next);
  }
  if (status.isOk()) status = store_->commit(next);
  [pool release];
  if (!status.isOk()) {
    store_->rollback();
    return status;
  }
  for (auto entry : changed) entry->second.added = entry->second.changed = false;
  changedCount_ = 0;
  std::vector<Records::iterator>().swap(changedList_);
  changedListStale_ = false;
  removed_.clear();
  seq_ = next;
  return status;
}

}  // namespace kx
