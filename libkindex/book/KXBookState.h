/* The records of a KXLocalAddressBook in memory and their link to the book's store.
 *
 * Two states live here. The saved state is what the store held at seq_, the last save this
 * process merged in: per record, its saved version and the seq of the save that wrote it
 * (its version). The book's own state is what the book shows its in-process user: its own
 * record objects, changed in place, with its unsaved changes. Views (KXLocalView) show the
 * saved state with their own changes on top, so they reach the saved state through here.
 *
 * Per record the bookkeeping is small, since a book may hold hundreds of thousands: an entry
 * holds one object, the row's seq and two flags. A record the book has not changed is its
 * own saved version. Only records the book changed since its last save carry more: the saved
 * version beside the changed object, and what changed (book/RecordChange.h). The changed
 * entries are also listed in the order they changed, so that a small save does not walk the
 * whole book.
 *
 * Before each read and inside each save, what other processes saved is merged in (catching
 * up, through PRAGMA data_version and the store's seq): a record the book did not change is
 * replaced in place; one it changed becomes the merge of its change with the new saved
 * version (book/Merge.h), in place, and its change is rebased on that version; one another
 * save removed goes, and the book's changes to it are reported dropped by its next save.
 */
#ifndef KINDEX_KXBOOKSTATE_H
#define KINDEX_KXBOOKSTATE_H

#import <Foundation/Foundation.h>
#import <Kindex/KXSync.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#import "book/RecordChange.h"
#include "store/Store.h"
#include "store/UidKey.h"

@class KXRecord;
@class KXGroup;
@class KXAddressBook;

namespace kx {

// The key of a uid in a book's maps, and back (autoreleased).
std::string keyOf(NSString *uid);
NSString *uidString(const UidKey &uid);

// The changes of one view: its RecordChanges by uid.
using ChangeSet = std::map<UidKey, RecordChange, UidLess>;

// What a save merged over and dropped, by uid (retained arrays, nil while empty: they outlive
// the autorelease pools of a save).
struct SaveReport {
  SaveReport() = default;
  ~SaveReport() { clear(); }
  SaveReport(const SaveReport &) = delete;
  SaveReport &operator=(const SaveReport &) = delete;
  void add(NSMutableArray *SaveReport::*list, NSString *uid);
  void clear();

  NSMutableArray *merged = nil;
  NSMutableArray *dropped = nil;
};

// What a conditional save requires of the stored record uid (a key: see keyOf): one of versions, where
// KXRecordAbsent stands for no record and KXRecordAtAnyVersion for any record.
struct Requirement {
  std::string uid;
  std::vector<uint64_t> versions;
};

class BookState {
 public:
  // Null, with *error set (see KXError.h), for a location that holds no book of ours or
  // cannot be read (see KXLocalAddressBook.h).
  static BookState *open(KXAddressBook *book, NSString *location, NSError **error);
  ~BookState();

  // The book's own state, as its in-process user sees it.
  NSArray *records(int kind);
  KXRecord *record(NSString *uid);
  bool add(KXRecord *record);
  bool remove(KXRecord *record);
  // Fills report (which must be empty) on success.
  Status save(SaveReport *report);
  bool hasUnsavedChanges() const { return changedCount_ != 0; }
  // The hooks of the book's own records: note the change before the record makes it.
  bool willSetValue(KXRecord *record, NSString *key);
  bool willChangeMember(KXGroup *group, KXRecord *member, bool adding);
  NSArray *members(KXGroup *group);
  NSArray *parentGroups(KXRecord *record);
  void setBusyTimeout(int milliseconds) { store_->setBusyTimeout(milliseconds); }

  // The saved state, for views. Brings it up to what others saved.
  void catchUp();
  // The saved version of a record (not to be changed), and the seq of the save that wrote it;
  // nil when the store holds no such record.
  KXRecord *saved(std::string_view uid, uint64_t *seq = nullptr) const;
  // Calls fn(uid, saved version) for every saved record of kind, in uid order.
  template <typename Fn>
  void forEachSaved(int kind, Fn fn) const;
  // The store's seq this state reflects.
  uint64_t seq() const { return seq_; }
  // Saves a view's changes in one transaction, merged with what the store holds, when every
  // requirement holds (else kNotAtVersion); on success the changes are gone from changes and
  // are part of the saved state (and merged into the book's own changed records); on failure
  // changes are as they were.
  Status save(ChangeSet &changes, const std::vector<Requirement> &requirements, SaveReport *report);

  // For sync (Kindex/KXSync.h): the saved state's info per record, which points into this
  // state; the resource names; the changes after a seq, read in one transaction with the
  // catching up that precedes them (kInvalid for a seq beyond the state's).
  const std::string &identity() const { return store_->identity(); }
  bool savedInfo(std::string_view uid, KXSavedRecordInfo *info) const;
  template <typename Fn>
  void forEachSavedInfo(Fn fn) const;
  // The uid holding a name (a null view when none); the name of a uid, or null.
  std::string_view uidNamed(std::string_view name) const;
  const std::string *nameOf(std::string_view uid) const;
  Status changesSince(uint64_t since, const std::function<void(const KXSavedRecordInfo &)> &written,
                      const Store::RemovedFn &removed);

 private:
  struct Entry {
    // Retained. The book's own record; for one the book removed (unsaved), its saved version.
    KXRecord *record;
    uint64_t seq : 62;     // the save that last wrote the row; 0 while only the book has it
    uint64_t changed : 1;  // the book added, changed or removed it since its last save
    uint64_t removed : 1;  // the book removed it (then record is the saved version)
  };
  static_assert(sizeof(Entry) == 16, "an entry per record: keep it small");
  using Records = std::map<UidKey, Entry, UidLess>;
  // What the book changed in a stored record it still shows.
  struct OwnChange {
    explicit OwnChange(int kind) : change(kind) {}
    ~OwnChange();
    OwnChange(OwnChange &&other) noexcept : change(std::move(other.change)), saved(other.saved) {
      other.saved = nil;
    }
    RecordChange change;
    KXRecord *saved = nil;  // retained: the saved version beside the changed record
  };

  BookState(KXAddressBook *book, std::unique_ptr<Store> store) : book_(book), store_(std::move(store)) {}
  Status load();
  Status catchUpTo(uint64_t *seq);
  void applyRemoved(std::string_view uid);
  void applyWritten(const RowView &row);
  void applyRow(const RowView &row);
  // Notes the name of uid; a null name drops it.
  void noteName(std::string_view uid, const char *name, size_t length);
  void noteTime(uint64_t seq, int64_t time);
  bool fillInfo(const Records::value_type &entry, KXSavedRecordInfo *info) const;
  void rebase(Entry &entry, OwnChange &own, KXRecord *newSaved);
  // The book's own record (nil when the book removed it or has none).
  KXRecord *find(std::string_view uid) const;
  // The entry of uid (records_.end() when none), through byUid_.
  Records::const_iterator lookup(std::string_view uid) const;
  Records::iterator lookup(std::string_view uid);
  // Every entry goes in and out of records_ through these, which keep byUid_.
  Records::iterator insertEntry(Records::const_iterator hint, std::string_view uid, const Entry &entry);
  void eraseEntry(Records::iterator entry);
  KXRecord *savedOf(const Records::value_type &entry) const;
  OwnChange *ownChange(Records::iterator entry);
  void forgetMember(NSString *uid);
  void insertClean(std::string_view uid, KXRecord *record, uint64_t seq);
  void erase(Records::iterator entry);
  void markChanged(Records::iterator entry);
  const std::vector<Records::iterator> &changedInUidOrder();
  void clearChanged();
  Status writeChanged(uint64_t next, SaveReport *report);
  // Ends the transaction of a save written as `next` (status is how the writing went): commits
  // it with the time now, or rolls it back and empties the report.
  Status commitSave(Status status, uint64_t next, int64_t now, SaveReport *report);

  KXAddressBook *book_;  // owns this state
  std::unique_ptr<Store> store_;
  Records records_;          // uid order is creation order
  size_t changedCount_ = 0;  // entries of records_ marked changed
  // The changed entries in the order they were marked; when a changed entry is erased the
  // list is dropped (stale) and a save finds the changed entries by walking records_.
  std::vector<Records::iterator> changedList_;
  bool changedListStale_ = false;
  std::map<UidKey, OwnChange, UidLess> own_;
  // Records the book had changed that another save removed: its next save reports them.
  std::vector<std::string> dropped_;
  std::set<std::string> groups_;  // the uids of the groups among records_
  uint64_t seq_ = 0;              // the last save of the store merged in
  // records_ by uid, for lookups that do not walk the tree (the views point into its keys).
  std::unordered_map<std::string_view, Records::iterator> byUid_;
  // The resource names both ways, for the records that have one; the views point into the
  // pairs namesByUid_ owns.
  struct NamePair {
    std::string uid, name;
  };
  std::unordered_map<std::string_view, std::unique_ptr<NamePair>> namesByUid_;
  std::unordered_map<std::string_view, const NamePair *> namesByName_;
  // When the saves that wrote the records committed, by seq.
  std::unordered_map<uint64_t, int64_t> times_;
};

template <typename Fn>
void BookState::forEachSavedInfo(Fn fn) const {
  KXSavedRecordInfo info;
  for (const auto &entry : records_) {
    if (fillInfo(entry, &info)) fn(info);
  }
}

template <typename Fn>
void BookState::forEachSaved(int kind, Fn fn) const {
  if (kind == KXRecordKindGroup) {
    for (const auto &uid : groups_) {
      auto it = records_.find(uid);
      KXRecord *record = it != records_.end() ? savedOf(*it) : nil;
      if (record != nil) fn(it->first, record);
    }
    return;
  }
  for (const auto &entry : records_) {
    KXRecord *record = savedOf(entry);
    if (record != nil && [record _kind] == kind) fn(entry.first, record);
  }
}

}  // namespace kx

#endif
