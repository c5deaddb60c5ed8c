/* The socket port bookd's Distributed Objects connection listens on. It is a plain
 * NSSocketPort that does two things more:
 *
 * - It knows which client a message comes from while the message is handled, so that a grant
 *   can charge a wrong password to the TCP peer that sent it (GNUstep's
 *   +[NSConnection currentConversation] always answers nil). The peer is read from the socket
 *   the client's messages arrive on: the connection's handle for the client's port.
 *
 * - It handles the next message of a client it is told to pace a little later
 *   (+paceCurrentClient).
 *
 * - It says when accepting new clients fails for lack of resources (out of file descriptors,
 *   say). GNUstep's port then gives up on that accept without a word, and tries again on every
 *   pass of the run loop: the process spins while the client waits, and a client with a reply
 *   timeout sees no root object, not a refusal. This port logs one line for a run of such
 *   failures and one when accepting works again, and rests the listening socket between
 *   tries instead of spinning. Open connections are served meanwhile.
 *
 * Made with +portWithNumber:onHost:forceAddress:listener:, which makes an instance of the
 * class it is sent to. */
#ifndef BOOKD_SERVINGPORT_H
#define BOOKD_SERVINGPORT_H

#import <Foundation/Foundation.h>

@interface ServingPort : NSSocketPort {
  BOOL _acceptsFailing;  /* since the last failed accept, until one succeeds */
  BOOL _listenerResting; /* left out of the run loop's descriptors until the retry */
}

/* The TCP peer (see NetAddress.h) of the client whose message is being handled now; nil
 * when no message is, and "" when the peer cannot be told. */
+ (NSString *)currentPeerAddress;

/* The next message of the client whose message is being handled now waits a little before it
 * is handled (its later ones wait behind it, in order). A grant refused over the address's
 * budget calls this: the refusal is answered at once, but a guesser that asks again the
 * moment it is answered would otherwise take the one thread from every other client. */
+ (void)paceCurrentClient;

@end

#endif
