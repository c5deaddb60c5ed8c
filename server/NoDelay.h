/* Turns Nagle's algorithm off on the TCP sockets behind bookd's Distributed Objects ports.
 *
 * GNUstep's socket ports leave it on, and a request that follows a one-way message (a proxy
 * being released, say) then waits for the peer's delayed acknowledgement, some 40 ms. The
 * watcher sets TCP_NODELAY on the sockets of the served ports now, and again whenever
 * GNUstep sets up a connection for a new client, since each client's socket appears only
 * then. Setting it twice is harmless. */
#ifndef BOOKD_NODELAY_H
#define BOOKD_NODELAY_H

#import <Foundation/Foundation.h>

/* Sets TCP_NODELAY on every TCP socket the port holds at this moment. */
void SetNoDelayOnPort(NSPort *port);

@interface NoDelayWatcher : NSObject
/* Starts watching new connections; the watcher lives for the whole run. */
+ (void)watchConnectionsOfPort:(NSPort *)port;
@end

#endif
