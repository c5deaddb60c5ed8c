#import "ServingChecker.h"

#include <objc/runtime.h>

/* What the answer to a remote -methodSignatureForSelector: offers across the connection: a
 * method every NSMethodSignature has in GNUstep, though no public header declares it. */
@protocol SignatureTypes
- (const char *)methodType;
@end

/* A signature like any other here; sent over a connection it goes as a proxy to a checker
 * that passes on -methodType only, rather than as a proxy to the signature itself (which would
 * answer any message, -performSelector: and -release among them). Declares no instance
 * variables, so that it shares NSMethodSignature's layout. */
@interface WireSignature : NSMethodSignature
@end

@implementation WireSignature

- (id)replacementObjectForPortCoder:(NSPortCoder *)coder {
  id checker = [NSProtocolChecker protocolCheckerWithTarget:self protocol:@protocol(SignatureTypes)];
  return [checker replacementObjectForPortCoder:coder];
}

@end

@implementation ServingChecker

+ (id)checkerWithTarget:(NSObject *)target protocol:(Protocol *)protocol {
  return [[[self alloc] initWithTarget:target protocol:protocol] autorelease];
}

- (void)dealloc {
  [_signatures release];
  [super dealloc];
}

- (NSMethodSignature *)methodSignatureForSelector:(SEL)selector {
  NSString *name = NSStringFromSelector(selector);
  NSMethodSignature *known = [_signatures objectForKey:name];
  if (known != nil) return known;
  const char *types = NULL;
  // The types GNUstep's proxy itself uses for this one question: an object for a selector.
  if (sel_isEqual(selector, _cmd)) types = "@@::";
  NSMethodSignature *own = types != NULL ? nil : [super methodSignatureForSelector:selector];
  if (own != nil) types = [(id<SignatureTypes>)own methodType];
  if (types == NULL) return nil;
  // Only the protocol's selectors get here, so the cache stays as small as the protocol.
  if (_signatures == nil) _signatures = [NSMutableDictionary new];
  known = [WireSignature signatureWithObjCTypes:types];
  [_signatures setObject:known forKey:name];
  return known;
}

@end
