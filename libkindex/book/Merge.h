/* How a save merges an editor's changes (book/RecordChange.h) with what the store holds at
 * the moment of the save, "saved": the one place that decides what a save writes, used for
 * saving and for showing an editor its own changes on top of what others saved.
 *
 * By property: a property the editor did not change is saved's; one it changed (ours differs
 * from the base it saw) is ours, since the editor saves later; one it set back to its base is
 * saved's. Multi-values merge entry by entry, by entry identifier (mergeMultiValue). Members
 * are saved's, plus those the editor added, minus those it removed.
 *
 * An added record (the editor made it) counts every property as changed from nil: on its
 * own it is the editor's values; should the store hold a record of the same uid (two editors
 * made it), ours wins where the editor set a value and saved's stays elsewhere.
 */
#ifndef KINDEX_MERGE_H
#define KINDEX_MERGE_H

#import <Foundation/Foundation.h>

#import "book/RecordChange.h"

namespace kx {

/* Whether two entries of a multi-value say the same (label, value and attributes;
 * identifiers aside): the one comparison of entries the merge makes. */
bool sameEntry(const KXEntryList::Item &a, const KXEntryList::Item &b);

/* The value a save stores for one property the editor changed from base to ours, where the
 * store now holds saved; any of them may be nil. Multi-values are merged when every value
 * present is one (nil counting as empty); otherwise, and for strings, ours wins when it
 * differs from base. Gives one of the inputs or an autoreleased multi-value. */
id mergeValue(id base, id ours, id saved);

/* Entry by entry, keeping saved's order and identifiers: an entry of saved is ours when the
 * editor changed it (ours differs from base, or base lacks it), gone when the editor removed
 * it, else saved's. Entries only ours has follow, in ours' order: those the editor added, and
 * those saved removed but the editor changed (kept); those saved removed and the editor did
 * not change are gone. The primary is ours' when the editor changed it and the entry is
 * still there, else saved's. Nil counts as empty; an empty result is nil when ours is nil. */
KXMultiValue *mergeMultiValue(KXMultiValue *base, KXMultiValue *ours, KXMultiValue *saved);

/* The values a save stores for a record: saved's (null: none stored) with the change's dirty
 * properties (every property of ours for an added record) merged in, ours giving the
 * editor's values. A new list, which the caller destroys. */
KXValueList *mergedValues(const RecordChange &change, const KXValueList &ours, const KXValueList *saved);

/* The members a save stores for a group: saved's (nil: none), plus the change's additions
 * not already there, minus its removals. Autoreleased. */
NSMutableArray *mergedMembers(const RecordChange &change, NSArray *saved);

}  // namespace kx

#endif
