/* The received half of KXPublicAddressBook: a view that crossed a Distributed Objects
 * connection and talks to its KXViewEndpoint on the server through a proxy. Records come in
 * batches, bound to this view (which they keep alive, and with it the connection); each
 * change is one call to the server, which keeps the view's changes.
 */
#ifndef KINDEX_KXREMOTEVIEW_H
#define KINDEX_KXREMOTEVIEW_H

#import <Kindex/KXPublicAddressBook.h>

@interface KXRemoteView : KXPublicAddressBook {
  id _remote; /* the proxy of the server's KXViewEndpoint */
}
@end

#endif
