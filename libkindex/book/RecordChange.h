/* What one editor (a book, or a view of it) changed in one record since it last saved: enough
 * to merge the change with whatever the store holds when the editor saves (book/Merge.h).
 *
 * A property changed keeps the value the editor saw before its first change of it, its base:
 * what decides, at the merge, whether the editor changed the property (ours differs from
 * base) or merely touched it. The base comes from the editor's own copy of the record, not
 * from the store: a caller may hold an old copy, a remote client reads, waits, then sets.
 * Members are kept as the editor's own additions and removals, in order; the last operation
 * on a member wins.
 */
#ifndef KINDEX_RECORDCHANGE_H
#define KINDEX_RECORDCHANGE_H

#import <Foundation/Foundation.h>

#include <cstdint>
#include <string>
#include <vector>

#import "KXPrivate.h"

namespace kx {

class RecordChange {
 public:
  struct Dirty {
    NSString *key;  // retained
    id base;        // retained; nil when the property had no value
  };

  explicit RecordChange(int kind = 0) : kind(kind) {}
  ~RecordChange();
  RecordChange(RecordChange &&other) noexcept;
  RecordChange(const RecordChange &) = delete;
  RecordChange &operator=(const RecordChange &) = delete;
  RecordChange &operator=(RecordChange &&) = delete;

  // Notes that key is about to change; base is its value until now. Only the first change
  // of a key keeps its base.
  void noteDirty(NSString *key, id base);
  const Dirty *dirtyFor(NSString *key) const;
  // The editor's own operations on members.
  void addMember(NSString *uid);
  void removeMember(NSString *uid);
  // Notes record replacing saved (the same uid): every property and member in which they
  // may differ counts as changed, from saved's. Values stay with record.
  void noteReplacement(KXRecord *saved, KXRecord *record);
  // Drops the values, bases, member operations and name, and the added flag: for a record the
  // editor removes.
  void clear();

  int kind;              // KXRecordKind
  bool added = false;    // the editor made the record (every property counts as changed from nil)
  bool removed = false;  // the editor removed the record
  uint64_t seenSeq = 0;  // the store's seq when the editor first changed the record
  std::vector<Dirty> dirty;
  // The editor's values where the editor keeps no record object of its own (a view): the
  // dirty properties' values now, a dirty key absent here having been removed; every value
  // of an added record. Null for the book, whose record objects hold its values.
  KXValueList *ours = nullptr;
  NSMutableArray *membersAdded = nil;  // retained, nil until used
  NSMutableArray *membersRemoved = nil;
  std::string name;  // the resource name the editor gives the record; empty for none
};

}  // namespace kx

#endif
