/* The server side of a view that crossed a Distributed Objects connection. It holds the one
 * view it was made for, with the view's unsaved changes (views/KXLocalView.h), for as long as
 * the connection keeps it: when the client lets go of the view, or the connection goes, the
 * endpoint goes and so do the view and its unsaved changes.
 *
 * It checks the read-only flag itself on every change, so a client gets nothing more than
 * its view allows whatever it sends. Arguments from the peer are checked to be local strings
 * and data, never proxies to the peer's objects, and values to be what their property may
 * hold. Batches are coded straight from the saved state and the view's changes.
 */
#ifndef KINDEX_KXVIEWENDPOINT_H
#define KINDEX_KXVIEWENDPOINT_H

#import "views/KXViewServing.h"

@class KXLocalView;

@interface KXViewEndpoint : NSObject <KXViewServing> {
  KXLocalView *_view;
  BOOL _readOnly;
}

- (id)initWithView:(KXLocalView *)view;
/* What to encode in place of the endpoint: the endpoint behind an NSProtocolChecker. */
- (id)vendable;

@end

#endif
