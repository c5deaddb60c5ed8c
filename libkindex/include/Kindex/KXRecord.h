/* KXRecord is the base of the two kinds of record a book holds, KXPerson and KXGroup.
 *
 * A record made with -init is new and belongs to no book: it gets a fresh unique id and
 * keeps its values to itself until it is added to a book with -[KXAddressBook addRecord:].
 * From then on every change goes to that book and is kept in memory until the book is
 * saved. The unique id never changes and survives save and reopen.
 *
 * Values are strings or multi-values (see KXProperties.h); a record stores its own
 * immutable copy of what it is given and hands out only immutable values. A record handed
 * out by a read-only view refuses every change: the setters answer NO.
 */
#ifndef KINDEX_KXRECORD_H
#define KINDEX_KXRECORD_H

#import <Foundation/Foundation.h>

@class KXAddressBook;

@interface KXRecord : NSObject <NSCoding> {
  NSString *_uniqueId;
  struct KXValueList *_values; /* the values by property, private to the library */
  KXAddressBook *_book;        /* not retained when the book holds the record (see _retainsBook) */
  BOOL _readOnly;
  BOOL _retainsBook; /* records a view made for a caller keep their view alive */
}

- (id)init;
/* A new record with the given unique id, any non-empty string (a vCard's UID, say); nil for
 * nil or an empty string. A book refuses to add a record whose id it holds already. */
- (id)initWithUniqueId:(NSString *)uniqueId;
- (NSString *)uniqueId;
/* Whether changes to this record are refused. */
- (BOOL)isReadOnly;

/* nil when the property has no value. */
- (id)valueForProperty:(NSString *)property;
/* A nil value removes the property. NO when the record is read-only or the value is not
 * one the property can hold. */
- (BOOL)setValue:(id)value forProperty:(NSString *)property;
- (BOOL)removeValueForProperty:(NSString *)property;
/* The keys of the properties that have a value. */
- (NSArray *)properties;

@end

@interface KXPerson : KXRecord
/* The groups of the person's book that have it as a member. */
- (NSArray *)parentGroups;
@end

@interface KXGroup : KXRecord {
  NSMutableArray *_memberIds;
  NSMutableSet *_memberIdSet; /* the same uids, for large groups: made when first needed */
}

/* The member records, in the order they were added. */
- (NSArray *)members;
/* Membership is by record and needs the group and the member in the same book.
 * A record is a member at most once; a group cannot contain itself. */
- (BOOL)addMember:(KXRecord *)member;
- (BOOL)removeMember:(KXRecord *)member;

@end

#endif
