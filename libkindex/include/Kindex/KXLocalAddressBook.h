/* A book stored in a directory.
 *
 * -initWithLocation: takes the path of a directory. An existing empty directory becomes a
 * new, empty book; a directory that holds a book of this library opens it (a book written
 * by an earlier version of the library is brought up to date as it opens). Anything else
 * gives nil and is left as it was: a path that does not exist, a regular file, a directory
 * holding other things, a store that cannot be read or is not one of ours, the empty string.
 *
 * Several processes may open one book, and each sees what the others saved on its next
 * read. The book hands out its own record objects and changes them in place; what others
 * save arrives in those objects too (in the properties, entries and members this book did
 * not change itself). A save merges (see KXAddressBook.h), so no process loses what another
 * saved.
 *
 * Views made of the book with -[KXPublicAddressBook initWithAddressBook:readOnly:] see what
 * is saved, not the book's own unsaved changes, and have changes of their own.
 */
#ifndef KINDEX_KXLOCALADDRESSBOOK_H
#define KINDEX_KXLOCALADDRESSBOOK_H

#import <Kindex/KXAddressBook.h>

@interface KXLocalAddressBook : KXAddressBook {
  NSString *_location;
  void *_impl; /* the store and the in-memory records, private to the library */
}

- (id)initWithLocation:(NSString *)location;
/* The same; when the location gives no book, nil and *error (when error is not NULL) says
 * why: KXErrorNotABook (the location does not exist, is a file, holds other things, or its
 * store is not a book of ours or is one of a newer version), KXErrorPermissionDenied,
 * KXErrorCorrupt, KXErrorBusy (another program held the book for 10 s while it was being
 * made or brought up to date), KXErrorDiskFull, KXErrorIOFailed. */
- (id)initWithLocation:(NSString *)location error:(NSError **)error;
- (NSString *)location;

/* Where +[KXAddressBook sharedAddressBook] keeps the user's book: the directory Kindex/AddressBook
 * in the user's GNUstep Library directory; nil when GNUstep reports none. */
+ (NSString *)sharedAddressBookLocation;

@end

#endif
