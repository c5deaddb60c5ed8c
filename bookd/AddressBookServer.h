/* The object bookd vends: it grants read-only and read-write views of the served book against
 * the two passwords. It also carries the socket login service, a category of its own in
 * login/ whose methods only the server's implementation and the tests see
 * (login/LoginService.h). */
#ifndef BOOKD_ADDRESSBOOKSERVER_H
#define BOOKD_ADDRESSBOOKSERVER_H

#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

@interface AddressBookServer : NSObject <KXSimpleAddressBookServing> {
  KXAddressBook *_book;
  NSString *_roPwd;
  NSString *_rwPwd;
  /* The socket login service's state, used only by login/LoginService.mm. It is declared here
   * because the class's instance variables can only be declared in its one @interface: GCC's
   * Objective-C (GNU runtime, fragile instance variables) accepts none in a class extension
   * or a category. */
  NSFileHandle *_handle;        /* the listening socket; nil when the service is off */
  NSMutableArray *_connections; /* FileHandleAuth records, in accept order */
  NSMapTable *_connectionIndex; /* connection handle -> its record in _connections */
  BOOL _acceptFailing;          /* accepts fail (say, out of descriptors); retried by timer */
}

/* port is the socket login service's; -1 leaves the service off. */
- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port;

- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth;
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth;

@end

#endif
