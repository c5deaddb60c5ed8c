/* Turns Nagle's algorithm off on bookd's Distributed Objects connections (see
 * KXConnectionTuning.h for why): on the served ports now, and on every connection GNUstep
 * sets up for a new client, since each client's socket appears only then. */
#ifndef BOOKD_NODELAY_H
#define BOOKD_NODELAY_H

#import <Foundation/Foundation.h>

@interface NoDelayWatcher : NSObject
/* Starts watching new connections; the watcher lives for the whole run. */
+ (void)watchConnectionsOfPort:(NSPort *)port;
@end

#endif
