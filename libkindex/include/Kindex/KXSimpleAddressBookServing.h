/* What an address-book server offers a remote client: a view of its book in exchange for
 * the matching password, or nil.
 *
 * A Distributed Objects client of bookd needs nothing but this protocol: connect, take the
 * connection's rootProxy and call one of the two methods. Calling
 * [root setProtocolForProxy:@protocol(KXSimpleAddressBookServing)] first is optional; it
 * saves the one round trip in which the proxy otherwise asks the server for the method's
 * signature. Any other message to the root is refused. A nil answer means a wrong password,
 * or too many wrong passwords from the client's address lately (about twenty at once, then
 * about one a second); a nil rootProxy (or an exception) means the server could not be
 * reached, or could not accept the connection for lack of resources. */
#ifndef KINDEX_KXSIMPLEADDRESSBOOKSERVING_H
#define KINDEX_KXSIMPLEADDRESSBOOKSERVING_H

#import <Foundation/Foundation.h>

@class KXAddressBook;

@protocol KXSimpleAddressBookServing
- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth;
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth;
@end

#endif
