#import <Kindex/KXConnectionTuning.h>
#import <Kindex/KXPublicAddressBook.h>
#import <Kindex/KXSimpleAddressBookServing.h>
#import "KXMakeError.h"

// The host is resolved here, to an IPv4 address that the send port is then pinned to, because
// GNUstep 1.28's socket ports speak IPv4 only and do not refuse anything else: given a host
// whose address is IPv6 (::1, say), the port copies the 28-byte IPv6 socket address into the
// 16 bytes its connection handle keeps for an IPv4 one. The connect fails ("Address family not
// supported by protocol") and -rootProxy merely answers nil, but the bytes written past the
// field have replaced the object pointer that follows it with the tail of the address, and the
// process dies when the handle is freed, typically in the release of an autorelease pool long
// after the failure was reported. Nor can a listening socket port bind an IPv6 address.

namespace {

// A server that does not answer must not leave the caller waiting for ever; the reply may
// take longer than the request, since a large book is encoded before it is sent.
const NSTimeInterval kRequestTimeout = 15;
const NSTimeInterval kReplyTimeout = 60;

NSString *formatted(NSString *format, ...) {
  va_list args;
  va_start(args, format);
  NSString *text = [[[NSString alloc] initWithFormat:format arguments:args] autorelease];
  va_end(args);
  return text;
}

// The first IPv4 address of host, a name or a dotted address, and the host it names; nil with
// the error set when it has none.
NSString *ipv4AddressOf(NSString *host, NSHost **named, NSError **error) {
  if ([host length] == 0) {
    KXMakeError(error, KXErrorAddressUnusable, @"no host given");
    return nil;
  }
  if ([host rangeOfString:@":"].location != NSNotFound) {
    KXMakeError(
        error, KXErrorAddressUnusable,
        formatted(@"%@ is an IPv6 address, and address-book servers are reached over IPv4 only", host));
    return nil;
  }
  NSHost *found = *named = [NSHost hostWithName:host];
  if (found == nil) {
    KXMakeError(error, KXErrorAddressUnusable, formatted(@"cannot find the host %@", host));
    return nil;
  }
  NSArray *addresses = [found addresses];
  for (NSUInteger i = 0; i < [addresses count]; i++) {
    NSString *address = [addresses objectAtIndex:i];
    if ([address rangeOfString:@":"].location == NSNotFound) return address;
  }
  KXMakeError(
      error, KXErrorAddressUnusable,
      formatted(@"%@ has no IPv4 address, and address-book servers are reached over IPv4 only", host));
  return nil;
}

}  // namespace

@implementation KXPublicAddressBook (Server)

+ (KXPublicAddressBook *)_viewOfServerAtHost:(NSString *)host
                                        port:(int)port
                                    readOnly:(BOOL)readOnly
                                    password:(NSString *)password
                              requestTimeout:(NSTimeInterval)requestTimeout
                                replyTimeout:(NSTimeInterval)replyTimeout
                                       error:(NSError **)error {
  if (port < 1 || port > 65535) {
    KXMakeError(error, KXErrorAddressUnusable, formatted(@"%d is not a port number (1 to 65535)", port));
    return nil;
  }
  NSHost *named = nil;
  NSString *address = ipv4AddressOf(host, &named, error);
  if (address == nil) return nil;

  NSConnection *connection = nil;
  BOOL answered = NO;
  id granted = nil;
  @try {
    NSPort *sendPort = [NSSocketPort portWithNumber:(uint16_t)port
                                             onHost:named
                                       forceAddress:address
                                           listener:NO];
    // Without a send port the connection would talk to this process itself.
    if (sendPort != nil) {
      connection = [[NSConnection alloc] initWithReceivePort:[NSSocketPort port] sendPort:sendPort];
      [connection setRequestTimeout:requestTimeout];
      [connection setReplyTimeout:replyTimeout];
    }
    id server = [connection rootProxy];
    if (server != nil) {
      KXTurnOffNagleOnConnection(connection);
      [server setProtocolForProxy:@protocol(KXSimpleAddressBookServing)];
      granted = readOnly ? [server addressBookForReadOnlyAccessWithAuth:password]
                         : [server addressBookForReadWriteAccessWithAuth:password];
      answered = YES;
    }
  } @catch (id) {
    // Not looked at: the exception of a failed remote call may already be gone (see the
    // platform notes). A server that fails to answer is no server.
    answered = NO;
  }

  // Only a view that arrived by copy is one: anything else (a proxy, another class) comes from
  // a server of another kind.
  if (answered && granted != nil && ![granted isProxy] &&
      [granted isKindOfClass:[KXPublicAddressBook class]]) {
    // The view's proxy to the server's side holds the connection (GNUstep's proxies retain
    // theirs), and with it the sockets, until the view and every record it handed out are gone.
    [connection autorelease];
    return granted;
  }
  [connection invalidate];
  [connection release];
  NSString *where = formatted(@"%@:%d", host, port);
  if (answered && granted == nil) {
    KXMakeError(error, KXErrorPasswordRefused,
                formatted(readOnly ? @"the server at %@ refused the password for reading"
                                   : @"the server at %@ refused the password for changing the book",
                          where));
  } else {
    KXMakeError(error, KXErrorNoServer, formatted(@"no address-book server answers at %@", where));
  }
  return nil;
}

+ (KXPublicAddressBook *)viewOfServerAtHost:(NSString *)host
                                       port:(int)port
                                   readOnly:(BOOL)readOnly
                                   password:(NSString *)password
                                      error:(NSError **)error {
  return [self _viewOfServerAtHost:host
                              port:port
                          readOnly:readOnly
                          password:password
                    requestTimeout:kRequestTimeout
                      replyTimeout:kReplyTimeout
                             error:error];
}

+ (KXPublicAddressBook *)viewOfServerAtHost:(NSString *)host
                                       port:(int)port
                                   readOnly:(BOOL)readOnly
                                   password:(NSString *)password
                                    timeout:(NSTimeInterval)timeout
                                      error:(NSError **)error {
  if (!(timeout > 0))
    return [self viewOfServerAtHost:host port:port readOnly:readOnly password:password error:error];
  return [self _viewOfServerAtHost:host
                              port:port
                          readOnly:readOnly
                          password:password
                    requestTimeout:timeout
                      replyTimeout:timeout
                             error:error];
}

@end
