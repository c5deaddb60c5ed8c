/* What the library's classes tell each other and nobody else: how a record asks its book
 * before a change, how views hand out records bound to themselves, and how a book refreshes
 * a record in place when another process saved a newer version of it.
 */
#ifndef KINDEX_KXPRIVATE_H
#define KINDEX_KXPRIVATE_H

#import <Kindex/KXAddressBook.h>
#import <Kindex/KXRecord.h>
#import <Kindex/KXMultiValue.h>
#import <Kindex/KXLocalAddressBook.h>

/* What kind of record a stored row or a coded record is. Stored in books: never renumber. */
enum KXRecordKind { KXRecordKindPerson = 1, KXRecordKindGroup = 2 };

#include "records/PackedList.h"

#include <vector>

@interface KXRecord (Private)
/* A record with no values yet. */
- (id)_initWithUniqueId:(NSString *)uniqueId;
- (int)_kind;
/* The book the record belongs to; retained only when retainBook (records that a view made
 * for a caller: nothing else keeps their book alive). */
- (KXAddressBook *)_book;
- (void)_setBook:(KXAddressBook *)book retain:(BOOL)retainBook;
- (void)_setReadOnly:(BOOL)readOnly;
/* The record's own values; callers must not change them. */
- (const KXValueList &)_values;
/* Puts in a newer version without going through the book (no change is reported), taking
 * over values, which the record deletes: for decoders that just made them. */
- (void)_adoptValues:(KXValueList *)values;
/* The same record for another holder: same uid, same values and members, bound to book. */
- (KXRecord *)_copyBoundTo:(KXAddressBook *)book readOnly:(BOOL)readOnly;
@end

@interface KXGroup (Private)
/* The members' uids in order; the group's own array, callers must not change it. */
- (NSArray *)_memberIds;
- (void)_adoptMemberIds:(NSMutableArray *)memberIds;
/* Drops uid from the members without asking the book; YES when it was there. */
- (BOOL)_forgetMemberId:(NSString *)uid;
- (BOOL)_hasMemberId:(NSString *)uid;
@end

/* The hooks a record calls on its book. Each answers YES when the record may go ahead and
 * apply the change to itself; the base class refuses. */
@interface KXAddressBook (Private)
- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property;
- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member;
- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member;
- (NSArray *)_membersOfGroup:(KXGroup *)group;
- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record;
@end

namespace kx {
class BookState;
/* Whether value may be stored under property (see KXProperties.h): what -setValue:forProperty:
 * checks, and what a server checks of a value a client sends. */
BOOL isValidValue(id value, NSString *property);
/* Whether two values say the same (either may be nil). Strings are compared by their
 * characters: GNUstep's -isEqual: hashes both strings first, which for the fresh strings of a
 * card or a decoded record costs ten times the comparison (a photo's, 30 microseconds). */
bool sameValue(id a, id b);
/* Every text of KXProperties.h, as the constant string objects themselves. */
const std::vector<NSString *> &libraryStrings();

/* GCC's runtime finds a class by hashing its name at every [NSString class] or [NSString
 * alloc]; the steps that run once per value of a book use these, which find it once. */
inline Class stringClass() {
  static Class found = [NSString class];
  return found;
}
inline Class dictionaryClass() {
  static Class found = [NSDictionary class];
  return found;
}
inline Class multiValueClass() {
  static Class found = [KXMultiValue class];
  return found;
}
}

@interface KXLocalAddressBook (Private)
- (kx::BookState *)_state;
/* How long -save waits for another process's save (10 s unless set); for tests. */
- (void)_setBusyTimeout:(int)milliseconds;
@end

@interface KXMultiValue (Private)
/* A copy of entries (sharing their objects) with the given primary. */
- (id)_initWithEntries:(const KXEntryList &)entries primary:(NSString *)primaryIdentifier;
/* Takes over entries, which the multi-value deletes: for decoders that just made them. */
- (id)_initAdoptingEntries:(KXEntryList *)entries primary:(NSString *)primaryIdentifier;
@end

/* The multi-value's own entries, which callers must not change, and the index of the entry
 * -primaryIdentifier answers (0 when empty): for coders. */
const KXEntryList &KXMultiValueEntries(KXMultiValue *multiValue, NSUInteger *primaryIndex);

#endif
