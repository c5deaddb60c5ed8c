/* A book stored in a directory.
 *
 * -initWithLocation: takes the path of a directory. An existing empty directory becomes a
 * new, empty book; a directory that holds a book of this library opens it. Anything else
 * gives nil and is left as it was: a path that does not exist, a regular file, a directory
 * holding other things, a store that cannot be read or is not one of ours, the empty string.
 *
 * Several processes may open one book. A save writes only what changed, so no process
 * loses what another saved, and a book picks up what others saved on its next read.
 */
#ifndef KINDEX_KXLOCALADDRESSBOOK_H
#define KINDEX_KXLOCALADDRESSBOOK_H

#import <Kindex/KXAddressBook.h>

@interface KXLocalAddressBook : KXAddressBook {
  NSString *_location;
  void *_impl; /* the store and the in-memory records, private to the library */
}

- (id)initWithLocation:(NSString *)location;
- (NSString *)location;

/* Where +[KXAddressBook sharedAddressBook] keeps the user's book: the directory Kindex/AddressBook
 * in the user's GNUstep Library directory; nil when GNUstep reports none. */
+ (NSString *)sharedAddressBookLocation;

@end

#endif
