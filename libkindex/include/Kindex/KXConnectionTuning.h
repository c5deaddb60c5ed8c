/* Socket settings for Distributed Objects connections that carry address books.
 *
 * GNUstep's socket ports leave Nagle's algorithm on. A request that follows a one-way message
 * (a proxy being released, say) then waits for the peer's delayed acknowledgement, some 40 ms,
 * which turns a few thousand requests a second into a couple of dozen. A view received from a
 * server turns it off on its own connection; a server calls this for each new connection,
 * since a client's socket appears only when the client connects. */
#ifndef KINDEX_KXCONNECTIONTUNING_H
#define KINDEX_KXCONNECTIONTUNING_H

#import <Foundation/Foundation.h>
#import <Kindex/KXProperties.h>

/* Sets TCP_NODELAY on every TCP socket the connection's ports hold at this moment; harmless
 * to repeat, and a no-op for ports that are not socket ports. */
KX_EXPORT void KXTurnOffNagleOnConnection(NSConnection *connection);
/* The same for one port's sockets. */
KX_EXPORT void KXTurnOffNagleOnPort(NSPort *port);

#endif
