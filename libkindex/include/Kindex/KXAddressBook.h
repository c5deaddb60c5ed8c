/* KXAddressBook is what every kind of address book answers: a book stored at a location
 * (KXLocalAddressBook), a view of another book (KXPublicAddressBook), or such a view held
 * by a remote client over GNUstep Distributed Objects.
 *
 * Changes stay in memory until -save, which writes all of them at once or none of them.
 * The arrays a book hands out are snapshots: records added or removed later do not show
 * up in an array already handed out, while the records in it are the book's own.
 */
#ifndef KINDEX_KXADDRESSBOOK_H
#define KINDEX_KXADDRESSBOOK_H

#import <Foundation/Foundation.h>

@class KXRecord;

@interface KXAddressBook : NSObject

/* The user's shared book, in the user's GNUstep Library directory, created on first use.
 * The same object on every call in a process; nil when it cannot be opened. */
+ (KXAddressBook *)sharedAddressBook;

- (NSArray *)people;
- (NSArray *)groups;
- (KXRecord *)recordForUniqueId:(NSString *)uniqueId;

/* NO when the record is already in a book, or the book refuses changes. */
- (BOOL)addRecord:(KXRecord *)record;
/* Also takes the record out of every group of this book. */
- (BOOL)removeRecord:(KXRecord *)record;
/* Writes every unsaved change in one transaction; on NO the changes stay unsaved. */
- (BOOL)save;
- (BOOL)hasUnsavedChanges;

@end

#endif
