/* KXAddressBook is what every kind of address book answers: a book stored at a location
 * (KXLocalAddressBook), a view of another book (KXPublicAddressBook), or such a view held
 * by a remote client over GNUstep Distributed Objects.
 *
 * Changes stay in memory until a save, which writes all of them at once or none of them.
 * Each book and each view has unsaved changes of its own: nobody else, no other view and no
 * other process, sees them before they are saved.
 *
 * A save never undoes what another save stored (another process's, another view's) and did
 * not itself change. It merges its changes on top of what is stored at that moment: by
 * property; multi-values (e-mail addresses, phones, addresses) entry by entry, so two savers
 * that each add an address keep both; a group's members member by member. Where two saves
 * changed the same property, or the same multi-value entry, the later save wins. A record
 * another save removed stays removed: changes to it are dropped. Such a save still succeeds,
 * and -saveReturningConflicts:error: says which records were merged or dropped.
 *
 * The arrays a book hands out are snapshots: records added or removed later do not show
 * up in an array already handed out.
 */
#ifndef KINDEX_KXADDRESSBOOK_H
#define KINDEX_KXADDRESSBOOK_H

#import <Foundation/Foundation.h>

@class KXRecord;

@interface KXAddressBook : NSObject

/* The user's shared book, in the user's GNUstep Library directory, created on first use.
 * The same object on every call in a process; nil when it cannot be opened, and a failed
 * attempt is tried again on the next call. */
+ (KXAddressBook *)sharedAddressBook;
/* The same; when the book cannot be opened, nil and *error (when error is not NULL) says why
 * (KXError.h: the codes of -[KXLocalAddressBook initWithLocation:error:], or
 * KXErrorPermissionDenied when the book's directory cannot be made). */
+ (KXAddressBook *)sharedAddressBookReturningError:(NSError **)error;

- (NSArray *)people;
- (NSArray *)groups;
- (KXRecord *)recordForUniqueId:(NSString *)uniqueId;

/* NO when the record is already in a book, or the book refuses changes. */
- (BOOL)addRecord:(KXRecord *)record;
/* Also takes the record out of every group of this book. */
- (BOOL)removeRecord:(KXRecord *)record;
/* Writes every unsaved change of this book (or view) in one transaction; on NO the changes
 * stay unsaved and the save may be tried again. The same as -saveAndReturnError: NULL. */
- (BOOL)save;
/* The same; on NO, *error (when error is not NULL) says why: KXErrorBusy,
 * KXErrorPermissionDenied, KXErrorDiskFull, KXErrorCorrupt, KXErrorIOFailed,
 * KXErrorReadOnly for a read-only view, KXErrorServerGone for a view whose server is gone. */
- (BOOL)saveAndReturnError:(NSError **)error;
/* The same, and on YES *conflicts (when not NULL) is nil when the save merged over nothing
 * and dropped nothing, else an error of code KXErrorConflict whose userInfo holds
 * KXMergedRecordIdsKey and KXDroppedRecordIdsKey (see KXError.h) and whose description
 * counts them. On NO, *conflicts is nil. */
- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error;
/* Whether this book (or view) holds changes it has not saved; other views' and other
 * processes' changes do not count. */
- (BOOL)hasUnsavedChanges;

@end

#endif
