/* The socket login service: a plain-text TCP service beside Distributed Objects. A client is
 * greeted, logs in with "auth ro PASSWORD" or "auth rw PASSWORD" and leaves with "quit"; what
 * an input means is LoginCommand's, which connection has which permissions is FileHandleAuth's,
 * and ConnectionWatcher says when a connection has something to read.
 *
 * It is a category of the server object, so that it checks the very passwords the server
 * holds; its state lives in the class's instance variables (see AddressBookServer.h for why).
 * This header is bookd's own: the server's initialiser and -dealloc, and the tests. */
#ifndef BOOKD_LOGINSERVICE_H
#define BOOKD_LOGINSERVICE_H

#import "AddressBookServer.h"

@class FileHandleAuth;

@interface AddressBookServer (LoginService)
/* Called once, by the initialiser. Sets up the records of connections and, unless port is
 * -1, opens the listening socket on address (nil: every IPv4 address) and starts accepting;
 * a socket that cannot be opened is logged and leaves the service off, and the server serves
 * on without it. */
- (void)startLoginServiceAtPort:(int)port listenAddress:(NSString *)address;
/* Called by -dealloc: lets go of the socket, the connections and the handlers. */
- (void)stopLoginService;

/* The handlers: a connection accepted (called by the service's Acceptor), and data (or the
 * end of the stream) on a connection (registered for every sender). */
- (void)acceptConnection:(NSNotification *)notification;
- (void)handleDataOnConnection:(NSNotification *)notification;
/* One input of the connection whose record is auth, already decoded and trimmed; nil when the
 * bytes were no text. Answers it, or ends the connection. */
- (void)handleInput:(NSString *)input withAuth:(FileHandleAuth *)auth;

/* The open connections' records, in accept order; for tests and diagnostics. */
- (NSArray *)connections;
/* The port the service listens on (the one the system chose for port 0), or -1 when the
 * service is off. */
- (int)loginServicePort;
@end

#endif
