/* The records of a KXLocalAddressBook in memory and their link to the book's store.
 *
 * The book owns its records (retained here) and tells each which book it belongs to. What
 * changed since the last save is kept as a set of changed uids and a set of removed ones;
 * a save writes exactly those in one transaction. A book may hold hundreds of thousands of
 * records, so the bookkeeping per record is kept small: "changed" and "added since the last
 * save" are flags on a record's entry, and the changed entries are also listed in the order
 * they changed, so that a small save does not walk the whole book. Before each read and inside each save,
 * what other processes saved is merged in: their changes replace a record in place unless
 * this process changed it too (the unsaved local change wins), and records they removed go.
 */
#ifndef KINDEX_KXBOOKSTATE_H
#define KINDEX_KXBOOKSTATE_H

#import <Foundation/Foundation.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/Store.h"
#include "store/UidKey.h"

@class KXRecord;
@class KXGroup;
@class KXAddressBook;

namespace kx {

class BookState {
 public:
  // Null, with *error set (see KXError.h), for a location that holds no book of ours or
  // cannot be read (see KXLocalAddressBook.h).
  static BookState *open(KXAddressBook *book, NSString *location, NSError **error);
  ~BookState();

  NSArray *records(int kind);
  KXRecord *record(NSString *uid);
  bool add(KXRecord *record);
  bool remove(KXRecord *record);
  Status save();
  bool hasUnsavedChanges() const { return changedCount_ != 0 || !removed_.empty(); }
  bool markChanged(KXRecord *record);
  NSArray *members(KXGroup *group);
  NSArray *parentGroups(KXRecord *record);
  void setBusyTimeout(int milliseconds) { store_->setBusyTimeout(milliseconds); }

 private:
  BookState(KXAddressBook *book, std::unique_ptr<Store> store) : book_(book), store_(std::move(store)) {}
  Status load();
  void catchUp();
  void applyRemoved(const std::string &uid);
  void applyWritten(const RowView &row);
  KXRecord *find(const std::string &uid) const;
  void forgetMember(const std::string &uid);

  struct Entry {
    KXRecord *record;
    bool added;    // added since the last save: not in the store
    bool changed;  // added or changed since the last save
  };
  using Records = std::map<UidKey, Entry, UidLess>;

  void markChanged(Records::iterator entry);
  bool isChanged(const std::string &uid) const;
  const std::vector<Records::iterator> &changedInUidOrder();

  KXAddressBook *book_;  // owns this state
  std::unique_ptr<Store> store_;
  Records records_;          // uid order is creation order
  size_t changedCount_ = 0;  // entries of records_ marked changed
  // The changed entries in the order they were marked; when a changed entry is removed the
  // list is dropped (stale) and a save finds the changed entries by walking records_.
  std::vector<Records::iterator> changedList_;
  bool changedListStale_ = false;
  std::set<std::string> removed_;  // removed since the last save, and stored
  std::set<std::string> groups_;   // the uids of the groups among records_
  uint64_t seq_ = 0;               // the last save of the store merged in
};

}  // namespace kx

#endif
