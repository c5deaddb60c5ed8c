/* What a view of a KXLocalAddressBook holds of its own: its unsaved changes (a ChangeSet),
 * shown on top of the book's saved state (book/KXBookState.h) and saved on their own.
 *
 * A view shows a record as the store has it, unless the view changed it: then as the merge
 * of the view's change with the saved version (book/Merge.h), the same merge its save will
 * write. Records the view added show; records it removed, or that another save removed,
 * do not. A view that never changes anything costs an empty map.
 *
 * Used from one thread, like the book. The view (KXLocalView) keeps the book, and with it
 * the BookState, alive for as long as this lives.
 */
#ifndef KINDEX_VIEWSTATE_H
#define KINDEX_VIEWSTATE_H

#import <Foundation/Foundation.h>

#include <string>

#import "book/KXBookState.h"
#import "coding/KXCodec.h"

namespace kx {

class ViewState {
 public:
  explicit ViewState(BookState *book) : book_(book) {}

  // Brings the saved state up to what others saved: before every read.
  void catchUp() { book_->catchUp(); }

  // Calls fn(uid (NSString), saved version or nil, the view's change or null) for every record of kind
  // the view may show, in uid order; the record shown is the merge (see record()).
  template <typename Fn>
  void forEach(int kind, Fn fn) const;
  // A new record (retained) as the view shows the record uid: a copy of the saved version,
  // or the merge of the view's change with it; nil when the view shows no such record.
  KXRecord *record(NSString *uid, KXRecord *saved, const RecordChange *change) const;
  KXRecord *record(NSString *uid) const;
  // The same as a batch entry, without making a record object; nothing when the view shows
  // no such record.
  void addToBatch(BatchWriter *batch, NSString *uid, KXRecord *saved, const RecordChange *change) const;
  void addToBatch(BatchWriter *batch, NSString *uid) const;
  // The uids of the members the view shows for the group uid (nil when it shows no such group).
  NSArray *memberIds(NSString *uid) const;
  // The uids of the groups the view shows that have uid as a member.
  NSArray *parentGroupIds(NSString *uid) const;
  // Whether the view shows a record of that uid.
  bool shows(NSString *uid) const;

  // The view's changes. Each gives false when the view does not show the record(s) concerned,
  // or (add) already shows one of that uid.
  bool setValue(NSString *uid, NSString *key, id base, id value);
  bool add(KXRecord *record);
  bool remove(NSString *uid);
  bool changeMember(NSString *groupId, NSString *memberId, bool adding);

  // Gives the record uid a resource name in the next save: false when the view shows no such
  // record or its saved version has another name.
  bool setName(NSString *uid, const std::string &name);

  // See BookState::save(ChangeSet &, const std::vector<Requirement> &, SaveReport *).
  Status save(SaveReport *report, const std::vector<Requirement> &requirements = {}) {
    return book_->save(changes_, requirements, report);
  }
  bool hasUnsavedChanges() const { return !changes_.empty(); }

 private:
  const RecordChange *changeOf(std::string_view uid) const;
  RecordChange &changeFor(const std::string &uid, int kind);
  bool shows(KXRecord *saved, const RecordChange *change) const;
  int kindOf(KXRecord *saved, const RecordChange *change) const {
    return saved != nil ? [saved _kind] : change->kind;
  }
  // The values (new list) and members the view shows for a record it changed.
  KXValueList *values(KXRecord *saved, const RecordChange &change) const;
  NSArray *members(KXRecord *saved, const RecordChange &change) const;

  BookState *book_;
  ChangeSet changes_;
};

template <typename Fn>
void ViewState::forEach(int kind, Fn fn) const {
  // Both in uid order: one walk of each. Records only the view has come between the saved
  // ones where their uids fall.
  auto change = changes_.begin();
  auto addedUpTo = [&](const std::string_view *uid) {
    for (; change != changes_.end() && (uid == nullptr || change->first.view() < *uid); ++change) {
      if (change->second.added && change->second.kind == kind)
        fn(uidString(change->first), nil, &change->second);
    }
  };
  book_->forEachSaved(kind, [&](const UidKey &uid, KXRecord *saved) {
    std::string_view key = uid.view();
    addedUpTo(&key);
    if (change != changes_.end() && change->first.view() == key) {
      fn([saved uniqueId], saved, &change -> second);
      ++change;
    } else {
      fn([saved uniqueId], saved, nullptr);
    }
  });
  addedUpTo(nullptr);
}

}  // namespace kx

#endif
