/* What bookd vends as its root object: the server behind a protocol checker that also answers
 * the one question a client's proxy asks before its first call when the client did not call
 * -setProtocolForProxy: (most don't): the signature of a method of the protocol.
 *
 * GNUstep's proxy asks it as a remote -methodSignatureForSelector: and then reads the types of
 * the answer with -methodType. Plain NSProtocolChecker refuses the first message (it is no
 * method of the protocol), so such a client got "doesn't handle methodSignatureForSelector:"
 * even for the right password. This checker answers -methodSignatureForSelector: for the
 * protocol's own selectors (nil for every other), and its answer crosses the connection behind
 * a checker of its own that answers -methodType and nothing else. Everything else stays as
 * closed as with NSProtocolChecker: key-value coding, -performSelector:, -target, -protocol,
 * retain and release sent as messages. */
#ifndef BOOKD_SERVINGCHECKER_H
#define BOOKD_SERVINGCHECKER_H

#import <Foundation/Foundation.h>

@interface ServingChecker : NSProtocolChecker {
  /* selector name -> its signature, for the protocol's selectors (and the one question): the
   * connection asks for a signature on every request it handles. */
  NSMutableDictionary *_signatures;
}
+ (id)checkerWithTarget:(NSObject *)target protocol:(Protocol *)protocol;
@end

#endif
