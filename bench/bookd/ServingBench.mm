// bookd over Distributed Objects, measured from a client on loopback.
//
// Grants per second: each round asks for a read-only view, sends it one query and lets it
// go. The floor is a bare GNUstep DO server started from this same program: its one method
// hands out a fresh object by reference, which the client queries once and lets go, the same
// exchange without bookd's code. Both run twice: with the client's sockets as GNUstep leaves
// them (Nagle on: each round then waits ~40 ms for a delayed acknowledgement, on either
// server) and with TCP_NODELAY on the client's sockets as well. The grants go over one
// connection opened by hand, as the floor's requests do, so that both measure the same
// exchange: the library's call would add a connection per view.
//
// Listing: 10,000 persons with names and e-mails read through one read-only view, opened with
// the library's call and timed from there; round trips are the replies the client's
// connections received.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchLine.h"
#include "BenchProcess.h"
#include "LoopbackConnection.h"
#include "LoopbackPort.h"

@protocol FloorItem
- (BOOL)isReady;
@end
@protocol FloorServing
- (id)itemWithAuth:(id)auth;
@end

@interface FloorItem : NSObject <FloorItem>
@end
@implementation FloorItem
- (BOOL)isReady {
  return YES;
}
@end

@interface FloorServer : NSObject <FloorServing>
@end
@implementation FloorServer
- (id)itemWithAuth:(id)auth {
  return [[[FloorItem alloc] init] autorelease];
}
@end

namespace {

const double kRoundSeconds = 2.0;

int runFloorServer(int port) {
  NSSocketPort *receive = (NSSocketPort *)[NSSocketPort portWithNumber:port
                                                                onHost:nil
                                                          forceAddress:nil
                                                              listener:YES];
  if (receive == nil) return 1;
  NSConnection *connection = [[NSConnection alloc] initWithReceivePort:receive sendPort:receive];
  [connection setRootObject:[[FloorServer alloc] init]];
  [[NSRunLoop currentRunLoop] run];
  return 0;
}

void noDelayOnPort(NSPort *port) {
  NSInteger fds[256];
  NSInteger count = 256;
  [(NSSocketPort *)port getFds:fds count:&count];
  for (NSInteger i = 0; i < count; i++) {
    int on = 1;
    setsockopt((int)fds[i], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
}

// The client's own sockets: a client that releases a proxy (a one-way message) and then sends
// its next request otherwise waits for the server's delayed acknowledgement.
void clientNoDelay(id root) {
  NSConnection *connection = [root connectionForProxy];
  noDelayOnPort([connection sendPort]);
  noDelayOnPort([connection receivePort]);
}

// The server's root proxy, retrying while the server starts (bounded).
id Connect(int port, Protocol *protocol) {
  for (int attempt = 0; attempt < 100; attempt++) {
    @try {
      id root = [kxtest::loopbackConnection(port) rootProxy];
      if (root != nil) {
        [root setProtocolForProxy:protocol];
        return root;
      }
    } @catch (id) {
    }
    usleep(50000);
  }
  return nil;
}

double roundsPerSecond(id root, bool floor) {
  auto start = std::chrono::steady_clock::now();
  long rounds = 0;
  while (bench::seconds(start) < kRoundSeconds) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    if (floor) {
      id item = [root itemWithAuth:@"secret"];
      [item setProtocolForProxy:@protocol(FloorItem)];
      if (![item isReady]) std::abort();
    } else {
      KXAddressBook *view = [root addressBookForReadOnlyAccessWithAuth:@"secret"];
      if (view == nil || [view hasUnsavedChanges]) std::abort();
    }
    [pool release];
    rounds++;
  }
  return rounds / bench::seconds(start);
}

long repliesReceived() {
  long total = 0;
  NSArray *connections = [NSConnection allConnections];
  for (NSUInteger i = 0; i < [connections count]; i++)
    total +=
        [[[[connections objectAtIndex:i] statistics] objectForKey:NSConnectionRepliesReceived] longValue];
  return total;
}

bool fillBook(NSString *dir, int count) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:dir] autorelease];
  for (int i = 0; book != nil && i < count; i++) {
    KXPerson *person = [[[KXPerson alloc] init] autorelease];
    [person setValue:[NSString stringWithFormat:@"First%d", i] forProperty:KXFirstNameProperty];
    [person setValue:[NSString stringWithFormat:@"Last%d", i] forProperty:KXLastNameProperty];
    KXMutableMultiValue *mail = [[[KXMutableMultiValue alloc] init] autorelease];
    [mail addValue:[NSString stringWithFormat:@"p%d@example.org", i] withLabel:KXEmailWorkLabel];
    [person setValue:mail forProperty:KXEmailProperty];
    [book addRecord:person];
  }
  bool saved = book != nil && [book save];
  [pool release];
  return saved;
}

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  if (argc == 3 && std::strcmp(argv[1], "--floor-server") == 0) return runFloorServer(std::atoi(argv[2]));

  char dirTemplate[] = "/tmp/bench_bookd_XXXXXX";
  if (mkdtemp(dirTemplate) == nullptr) return 1;
  const std::string dir = dirTemplate;
  const int persons = 10000;
  if (!fillBook([NSString stringWithUTF8String:dir.c_str()], persons)) return 1;

  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  const int floorPort = kxtest::freePort();
  pid_t floorServer = bench::spawnQuiet({self, "--floor-server", std::to_string(floorPort)});
  const int receivePort = kxtest::freePort();
  pid_t bookd = bench::spawnQuiet({BOOKD_PATH, "--ab", dir, "--ro", "secret", "--rw", "other", "--rp",
                                   std::to_string(receivePort), "--sp", std::to_string(kxtest::freePort()),
                                   "--sock", "-1"});

  int status = 1;
  id floorRoot = Connect(floorPort, @protocol(FloorServing));
  id bookdRoot = Connect(receivePort, @protocol(KXSimpleAddressBookServing));
  if (floorRoot != nil && bookdRoot != nil) {
    double floorRate = roundsPerSecond(floorRoot, true);
    double grantRate = roundsPerSecond(bookdRoot, false);
    // A view that arrives turns Nagle off on its own connection; the bare floor server's
    // client keeps it on, so this line shows what a plain client gains, not a like-for-like ratio.
    bench::line("bookd grants/s, plain client (floor: Nagle on)", grantRate, "1/s", floorRate, "informative");
    clientNoDelay(floorRoot);
    clientNoDelay(bookdRoot);
    floorRate = roundsPerSecond(floorRoot, true);
    grantRate = roundsPerSecond(bookdRoot, false);
    bench::line("bookd grants/s, client with TCP_NODELAY", grantRate, "1/s", floorRate, ">= 0.80 of floor");

    // A client as kindex is: the view opened through the library, on a connection of its own.
    auto start = std::chrono::steady_clock::now();
    long repliesBefore = repliesReceived();
    KXAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                                             port:receivePort
                                                         readOnly:YES
                                                         password:@"secret"
                                                            error:NULL];
    NSArray *people = [view people];
    long characters = 0;
    for (NSUInteger i = 0; i < [people count]; i++) {
      KXPerson *person = [people objectAtIndex:i];
      KXMultiValue *mail = [person valueForProperty:KXEmailProperty];
      characters += [[person valueForProperty:KXFirstNameProperty] length] +
                    [[person valueForProperty:KXLastNameProperty] length] + [[mail valueAtIndex:0] length];
    }
    double listSeconds = bench::seconds(start);
    long roundTrips = repliesReceived() - repliesBefore;
    if ([people count] == static_cast<NSUInteger>(persons) && characters > 0) {
      bench::line("bookd list 10,000 persons + e-mails: round trips", roundTrips, "count",
                  "fixed, not per record");
      bench::line("bookd list 10,000 persons + e-mails: wall time", listSeconds, "s", "< 1 s");
      status = 0;
    }
  }
  bench::stop(bookd);
  bench::stop(floorServer);
  std::string remove = "rm -rf '" + dir + "'";
  if (std::system(remove.c_str()) != 0) status = 1;
  [pool release];
  return status;
}
