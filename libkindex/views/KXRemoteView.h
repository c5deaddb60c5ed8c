/* The received half of KXPublicAddressBook: a view that crossed a Distributed Objects
 * connection and talks to its KXViewEndpoint on the server through a proxy. Records come in
 * batches, bound to this view (which they keep alive, and with it the connection); each
 * change is one call to the server, which keeps the view's changes.
 *
 * Every call to the server goes through one method, -_reach:, which tells a server that is
 * gone (the connection was invalidated, or a call through it raised: the peer closed it, a
 * request timed out) from an answer. A view whose server is gone stays gone: its plain
 * methods raise KXServerGoneException, its NSError forms give KXErrorServerGone.
 */
#ifndef KINDEX_KXREMOTEVIEW_H
#define KINDEX_KXREMOTEVIEW_H

#import <Kindex/KXPublicAddressBook.h>

#include <functional>

@interface KXRemoteView : KXPublicAddressBook {
  id _remote; /* the proxy of the server's KXViewEndpoint */
  BOOL _gone;
}

/* Runs call, which sends to the server; NO (and the view gone for good) when the server
 * cannot be reached. */
- (BOOL)_reach:(const std::function<void()> &)call;

@end

#endif
