/* The server side of a view that crossed a Distributed Objects connection. It holds the one
 * book it was made for and checks the read-only flag itself on every change, so a client
 * gets nothing more than its view allows whatever it sends. Arguments from the peer are
 * checked to be local strings and data, never proxies to the peer's objects.
 */
#ifndef KINDEX_KXVIEWENDPOINT_H
#define KINDEX_KXVIEWENDPOINT_H

#import "views/KXViewServing.h"

@class KXAddressBook;

@interface KXViewEndpoint : NSObject <KXViewServing> {
  KXAddressBook *_book;
  BOOL _readOnly;
}

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly;
/* What to encode in place of the endpoint: the endpoint behind an NSProtocolChecker. */
- (id)vendable;

@end

#endif
