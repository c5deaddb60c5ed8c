/* What an address-book server offers a remote client: a view of its book in exchange for
 * the matching password, or nil. */
#ifndef KINDEX_KXSIMPLEADDRESSBOOKSERVING_H
#define KINDEX_KXSIMPLEADDRESSBOOKSERVING_H

#import <Foundation/Foundation.h>

@class KXAddressBook;

@protocol KXSimpleAddressBookServing
- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth;
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth;
@end

#endif
