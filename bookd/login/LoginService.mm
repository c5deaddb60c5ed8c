/* The socket login service of the server object: the listening socket, and the handlers
 * that greet, read and answer connections from the run loop. What an input means lives in
 * LoginCommand; this file only moves bytes and keeps the records.
 *
 * One misbehaving client must never cost anyone else: every failed read or write ends that
 * connection only, the next accept is always requested, and a failing accept is retried
 * from a timer instead of from a busy loop. Connections wait for data through the
 * ConnectionWatcher, so that an event costs the same with 10 or 10,000 of them open; the
 * record of a connection is found through _connectionIndex for the same reason. Logins are
 * paid for from the peer address's budget (GuessBudget.h). */
#import "LoginService.h"
#import "Acceptor.h"
#import "ConnectionWatcher.h"
#import "FileHandleAuth.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "GuessBudget.h"
#include "LoginCommand.h"
#include "NetAddress.h"
#include "PasswordMatch.h"

namespace {

// How long to wait before asking for a connection again after an accept failed. Accepts
// fail when the process is out of descriptors; the pending connection stays in the backlog,
// so an immediate retry would only fail again and spin.
const NSTimeInterval kAcceptRetryDelay = 0.1;

// How long a connection whose attempt was refused over budget waits before its next input is
// read. The refusal is answered at once and cheaply, but a guesser that sends its next attempt
// as soon as the answer arrives would still take as much of this one thread (and of the
// machine) as it likes, at the cost of every other address. Reading its next line a little
// later costs it nothing it was owed: its budget refills at one check a second.
const NSTimeInterval kRefusedConnectionPause = 0.5;

// Replies go straight to the socket rather than through -writeData:, which raises when the
// peer is gone and blocks the whole server when a client stops reading its replies. A reply
// is a few bytes, so a full send buffer means the client has not read for a very long time;
// that, like a reset, ends the connection.
bool sendText(NSFileHandle *connection, const char *text) {
  const size_t length = std::strlen(text);
  const int fd = [connection fileDescriptor];
  ssize_t sent;
  do {
    sent = send(fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(length);
}

// One read as the text of one input: up to its first zero byte, decoded in the encoding
// GNUstep decodes the command line with (so a password typed there logs in when a client
// sends the same bytes), trimmed at both ends. nil when the bytes are no text in it.
NSString *inputOfRead(NSData *data) {
  const char *bytes = static_cast<const char *>([data bytes]);
  const size_t length = login::lengthUpToZero(bytes, [data length]);
  NSString *text = [[[NSString alloc] initWithBytes:bytes
                                             length:length
                                           encoding:[NSString defaultCStringEncoding]] autorelease];
  return [text stringByTrimmingCharactersInSet:[NSCharacterSet whitespaceAndNewlineCharacterSet]];
}

// As deep as the system allows: with GNUstep's old depth of 5, a burst of clients overflowed
// it and each one dropped waited a second for the kernel to retry its SYN. Linux caps the
// value at net.core.somaxconn whatever is asked; reading it only keeps the intent visible.
int listenBacklog() {
  int depth = SOMAXCONN;
  if (FILE *file = std::fopen("/proc/sys/net/core/somaxconn", "r")) {
    int value = 0;
    if (std::fscanf(file, "%d", &value) == 1 && value > depth) depth = value;
    std::fclose(file);
  }
  return depth;
}

// The listening socket on address (nil: every IPv4 address, with the messages of old), or -1
// after logging why not.
int openListeningSocket(int port, NSString *address) {
  std::optional<ListenAddress> chosen;
  std::string where;  // " on ADDR" in the messages when an address was given
  if (address != nil) {
    const char *text = [address UTF8String];
    chosen = parseListenAddress(text != NULL ? text : "");
    where = std::string(" on ") + (text != NULL ? text : "");
    if (!chosen) {
      NSLog(@"Couldn't bind to port %d%s - not an IPv4 or IPv6 address\n", port, where.c_str());
      return -1;
    }
  }
  const int family = chosen ? chosen->family : AF_INET;
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    NSLog(@"Unable to create socket - %s\n", strerror(errno));
    return -1;
  }
  int reuse = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) {
    NSLog(@"Couldn't set reuse on socket - %s\n", strerror(errno));
    close(fd);
    return -1;
  }
  // "::" takes IPv4 clients too, whatever the system's default says.
  int both = 0;
  if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &both, sizeof both);
  struct sockaddr_storage bound;
  socklen_t length = sizeof(sockaddr_in);
  if (chosen) {
    bound = withPort(*chosen, static_cast<uint16_t>(port), length);
  } else {
    std::memset(&bound, 0, sizeof bound);
    struct sockaddr_in *any = reinterpret_cast<struct sockaddr_in *>(&bound);
    any->sin_family = AF_INET;
    any->sin_addr.s_addr = htonl(INADDR_ANY);
    any->sin_port = htons(static_cast<uint16_t>(port));
  }
  if (bind(fd, reinterpret_cast<struct sockaddr *>(&bound), length) != 0) {
    NSLog(@"Couldn't bind to port %d%s - %s\n", port, where.c_str(), strerror(errno));
    close(fd);
    return -1;
  }
  if (listen(fd, listenBacklog()) != 0) {
    NSLog(@"Couldn't listen on port %d%s - %s\n", port, where.c_str(), strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

@interface AddressBookServer (LoginServicePrivate)
- (void)requestNextAccept;
- (void)retryAccept:(NSTimer *)timer;
- (void)noteFailedAccept:(NSNotification *)notification;
- (FileHandleAuth *)recordOfConnection:(NSFileHandle *)connection;
- (void)forgetConnection:(FileHandleAuth *)auth;
- (void)watchForInput:(FileHandleAuth *)auth;
- (void)watchPausedConnection:(NSTimer *)timer;
@end

@implementation AddressBookServer (LoginService)

- (void)startLoginServiceAtPort:(int)port listenAddress:(NSString *)address {
  // The records exist with the service off too: -connections then answers an empty list.
  _connections = [[NSMutableArray alloc] initWithCapacity:5];
  _connectionIndex = [[NSMapTable alloc]
      initWithKeyOptions:NSPointerFunctionsObjectPointerPersonality | NSPointerFunctionsStrongMemory
            valueOptions:NSPointerFunctionsObjectPointerPersonality | NSPointerFunctionsStrongMemory
                capacity:16];
  if (port == -1) return;

  const int fd = openListeningSocket(port, address);
  if (fd < 0) return;
  // A client that goes while a reply is on its way must not end the process.
  signal(SIGPIPE, SIG_IGN);
  _handle = [[NSFileHandle alloc] initWithFileDescriptor:fd closeOnDealloc:YES];
  _acceptor = [[Acceptor alloc] initWithListeningHandle:_handle server:self];
  [self requestNextAccept];

  [[NSNotificationCenter defaultCenter] addObserver:self
                                           selector:@selector(handleDataOnConnection:)
                                               name:NSFileHandleDataAvailableNotification
                                             object:nil];
}

- (void)stopLoginService {
  [_acceptor stop];
  [_acceptor autorelease];
  _acceptor = nil;
  // The watcher keeps no handle alive, and a new connection may come to have the number
  // (and the address) of one of these.
  for (NSUInteger i = 0; i < [_connections count]; i++)
    [[ConnectionWatcher sharedWatcher] forget:[[_connections objectAtIndex:i] fileHandle]];
  // Handed to the pool rather than released here: a handler of this service may be on the
  // stack with one of these objects when the server goes.
  [_handle autorelease];
  _handle = nil;
  [_connections autorelease];
  _connections = nil;
  [_connectionIndex autorelease];
  _connectionIndex = nil;
  [[NSNotificationCenter defaultCenter] removeObserver:self];
}

- (void)acceptConnection:(NSNotification *)notification {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  NSFileHandle *connection = [[notification userInfo] objectForKey:NSFileHandleNotificationFileHandleItem];
  if (connection == nil) {
    [self noteFailedAccept:notification];
    [pool release];
    return;
  }
  // Asked for first, so that nothing this connection does can keep the next one out.
  [self requestNextAccept];
  if (_acceptFailing) {
    _acceptFailing = NO;
    NSLog(@"Accepting connections again\n");
  }

  FileHandleAuth *auth = [[FileHandleAuth alloc] initWithFileHandle:connection];
  [_connections addObject:auth];
  [_connectionIndex setObject:auth forKey:connection];
  [auth release];
  if (!sendText(connection, login::hello))
    [self forgetConnection:auth];
  else
    [self watchForInput:auth];
  [pool release];
}

- (void)handleDataOnConnection:(NSNotification *)notification {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  NSFileHandle *connection = [notification object];
  FileHandleAuth *auth = [self recordOfConnection:connection];
  if (auth == nil) {
    NSLog(@"Huh?! Couldn't find auth object\n");
    [pool release];
    return;
  }
  // A failed read (a reset, say) ends the stream just like an orderly close.
  NSData *data = nil;
  @try {
    data = [connection availableData];
  } @catch (id e) {
    data = nil;
  }
  if ([data length] == 0) {
    [self forgetConnection:auth];
    [pool release];
    return;
  }
  [self handleInput:inputOfRead(data) withAuth:auth];
  if ([self recordOfConnection:connection] == auth) [self watchForInput:auth];
  [pool release];
}

- (void)handleInput:(NSString *)input withAuth:(FileHandleAuth *)auth {
  std::string text, roPwd, rwPwd;
  const bool hasText = passwordBytes(input, text);
  const bool hasRo = passwordBytes(_roPwd, roPwd);
  const bool hasRw = passwordBytes(_rwPwd, rwPwd);
  login::Flags current;
  current.readOK = [auth isReadOK];
  current.writeOK = [auth isWriteOK];
  const std::string peer = [[auth peerAddress] UTF8String];
  const double now = GuessBudget::SteadyNow();
  const bool mayCheck = _loginBudget->mayCheck(peer, now);
  const login::Outcome outcome = login::interpret(hasText ? &text : nullptr, hasRo ? &roPwd : nullptr,
                                                  hasRw ? &rwPwd : nullptr, current, mayCheck);
  if (outcome.attempt && !mayCheck) {
    if (_loginBudget->noteRefusal(peer, now)) logRefusedPeer(peer, "socket login service");
  } else if (outcome.attempt && outcome.reply == login::ok) {
    _loginBudget->noteSuccess(peer, now);
  } else if (outcome.attempt) {
    _loginBudget->noteFailure(peer, now);
  }
  if (outcome.close) {
    [self forgetConnection:auth];
    return;
  }
  [auth setRefusedUnchecked:outcome.attempt && !mayCheck];
  [auth setReadOK:outcome.flags.readOK writeOK:outcome.flags.writeOK];
  if (!sendText([auth fileHandle], outcome.reply)) [self forgetConnection:auth];
}

- (NSArray *)connections {
  return [[_connections copy] autorelease];
}

- (int)loginServicePort {
  if (_handle == nil) return -1;
  struct sockaddr_storage address;
  socklen_t length = sizeof address;
  if (getsockname([_handle fileDescriptor], reinterpret_cast<struct sockaddr *>(&address), &length) != 0)
    return -1;
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in *>(&address)->sin_port);
}

@end

@implementation AddressBookServer (LoginServicePrivate)

- (void)requestNextAccept {
  [_acceptor watch];
}

- (void)retryAccept:(NSTimer *)timer {
  [self requestNextAccept];
}

- (void)noteFailedAccept:(NSNotification *)notification {
  // The retry is scheduled before anything is logged: logging itself may need a descriptor
  // and raise, and nothing after that would run.
  [NSTimer scheduledTimerWithTimeInterval:kAcceptRetryDelay
                                   target:self
                                 selector:@selector(retryAccept:)
                                 userInfo:nil
                                  repeats:NO];
  // Logged once for a run of failures, not once per attempt.
  if (_acceptFailing) return;
  _acceptFailing = YES;
  @try {
    id reason = [[notification userInfo] objectForKey:GSFileHandleNotificationError];
    NSLog(@"Couldn't accept a connection - %@\n", reason != nil ? reason : @"unknown error");
  } @catch (id e) {
  }
}

- (FileHandleAuth *)recordOfConnection:(NSFileHandle *)connection {
  if (connection == nil) return nil;
  return [_connectionIndex objectForKey:connection];
}

// The next input of the connection is read as soon as it comes, or, after an attempt refused
// over budget, after a pause (see kRefusedConnectionPause).
- (void)watchForInput:(FileHandleAuth *)auth {
  NSFileHandle *connection = [auth fileHandle];
  if ([auth wasRefusedUnchecked]) {
    [NSTimer scheduledTimerWithTimeInterval:kRefusedConnectionPause
                                     target:self
                                   selector:@selector(watchPausedConnection:)
                                   userInfo:auth
                                    repeats:NO];
    return;
  }
  if (![[ConnectionWatcher sharedWatcher] watchOnce:connection]) [self forgetConnection:auth];
}

- (void)watchPausedConnection:(NSTimer *)timer {
  FileHandleAuth *auth = [timer userInfo];
  // The connection may have been closed meanwhile (the server's own end only: the client's
  // close is read once the connection is watched again).
  if ([self recordOfConnection:[auth fileHandle]] != auth) return;
  if (![[ConnectionWatcher sharedWatcher] watchOnce:[auth fileHandle]]) [self forgetConnection:auth];
}

- (void)forgetConnection:(FileHandleAuth *)auth {
  NSFileHandle *connection = [auth fileHandle];
  if ([self recordOfConnection:connection] != auth) return;
  [[auth retain] autorelease];
  [[ConnectionWatcher sharedWatcher] forget:connection];
  [_connectionIndex removeObjectForKey:connection];
  [_connections removeObjectIdenticalTo:auth];
  // Closed now rather than when the last reference goes: the run loop and the notification
  // in flight may hold the handle a while, and the client should see its end at once.
  @try {
    [connection closeFile];
  } @catch (id e) {
  }
}

@end
