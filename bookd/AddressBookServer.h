/* The object bookd vends: it grants read-only and read-write views of the served book against
 * the two passwords. It also carries the socket login service, a category of its own in
 * login/ whose methods only the server's implementation and the tests see
 * (login/LoginService.h).
 *
 * Each service keeps a budget of password checks per peer address (GuessBudget.h): over it,
 * an attempt is answered as a wrong password without its password being compared, and the
 * first such refusal of an episode is logged. */
#ifndef BOOKD_ADDRESSBOOKSERVER_H
#define BOOKD_ADDRESSBOOKSERVER_H

#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <string>

class GuessBudget;
@class Acceptor;

@interface AddressBookServer : NSObject <KXSimpleAddressBookServing> {
  KXAddressBook *_book;
  NSString *_roPwd;
  NSString *_rwPwd;
  id _peerSource;            /* answers -currentPeerAddress for grants; not retained */
  GuessBudget *_grantBudget; /* Distributed Objects grants, per peer address */
  GuessBudget *_loginBudget; /* "auth" lines of the socket login service, per peer address */
  /* The socket login service's state, used only by login/LoginService.mm. It is declared here
   * because the class's instance variables can only be declared in its one @interface: GCC's
   * Objective-C (GNU runtime, fragile instance variables) accepts none in a class extension
   * or a category. */
  NSFileHandle *_handle;        /* the listening socket; nil when the service is off */
  Acceptor *_acceptor;          /* accepts what waits on _handle, in batches */
  NSMutableArray *_connections; /* FileHandleAuth records, in accept order */
  NSMapTable *_connectionIndex; /* connection handle -> its record in _connections */
  BOOL _acceptFailing;          /* accepts fail (say, out of descriptors); retried by timer */
}

/* port is the socket login service's; -1 leaves the service off. The service listens on every
 * IPv4 address. */
- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port;

/* The same, the service listening on address (numeric IPv4 or IPv6; nil for every IPv4
 * address). The designated initialiser. */
- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port
            listenAddress:(NSString *)address;

- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth;
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth;

/* Where a grant learns whom it answers: an object (a class will do) whose -currentPeerAddress
 * answers the peer address of the request being handled, nil or "" when unknown. It is
 * [ServingPort class] unless a test sets another; it is not retained. */
- (void)setPeerAddressSource:(id)source;

@end

/* The one log line of an address's refusal episode on a service, naming both. */
void logRefusedPeer(const std::string &address, const char *service);

#endif
