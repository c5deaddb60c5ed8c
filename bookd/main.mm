/* bookd: serves one address book over GNUstep Distributed Objects (and, through the server
 * object, over the socket login service) until it is killed. */
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#import "AddressBookServer.h"
#import "DieFunctions.h"
#import "NoDelay.h"
#import "ServingChecker.h"
#import "ServingPort.h"
#import "carddav/BookCollection.h"
#import "carddav/DavService.h"
#include "ConfigFile.h"
#include "GuessBudget.h"
#include "NetAddress.h"
#include "ServerSettings.h"

namespace {

NSString *toNSString(const std::string &text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

// The argument walk, the configuration merge and validation; ends the process on failure.
ServerSettings gatherSettings() {
  NSArray *arguments = [[NSProcessInfo processInfo] arguments];
  std::vector<std::string> words;
  for (NSUInteger i = 1; i < [arguments count]; i++) {
    const char *word = [[arguments objectAtIndex:i] UTF8String];
    words.push_back(word != NULL ? word : "");
  }
  ServerSettings settings;
  if (walkArguments(words, settings) == WalkResult::Usage) DiePrintingUsage(-1);
  if (settings.configFile) {
    ConfigValues file;
    if (!readConfigFile(*settings.configFile, file)) {
      // Kept with its typo ("containa"): other programs and users' scripts rely on these bytes.
      fprintf(stderr, "Error: %s could not be read or doesn't containa valid dictionary!\n",
              settings.configFile->c_str());
      exit(-1);
    }
    mergeConfiguration(settings, file);
  }
  // Written as bytes: a listen address quoted in the message may be no valid UTF-8.
  const std::string message = firstValidationError(settings);
  if (!message.empty()) {
    fputs(message.c_str(), stderr);
    exit(-1);
  }
  return settings;
}

KXLocalAddressBook *openBook(NSString *location) {
  KXLocalAddressBook *book = nil;
  NSError *error = nil;
  @try {
    book = [[KXLocalAddressBook alloc] initWithLocation:location error:&error];
  } @catch (id) {
    book = nil;
  }
  // The first line is kept as it was, byte for byte: scripts rely on it; the reason follows.
  if (book == nil)
    DiePrintingMessage(
        [NSString
            stringWithFormat:@"Error: %@ isn't a valid AddressBookLocation\nReason: %@\n", location,
                             error != nil ? [error localizedDescription] : @"the book could not be opened"],
        -1);
  return book;
}

// The receive port listens on address ("" or nil: every IPv4 address) and is a ServingPort;
// the send port only names a port number.
NSSocketPort *openPort(int32_t setting, BOOL listener, NSString *address) {
  NSSocketPort *port = nil;
  Class kind = listener ? [ServingPort class] : [NSSocketPort class];
  @try {
    port = (NSSocketPort *)[kind portWithNumber:portNumberToOpen(setting)
                                         onHost:nil
                                   forceAddress:[address length] > 0 ? address : nil
                                       listener:listener];
  } @catch (id) {
    port = nil;
  }
  // A server that says it runs while nobody can reach it would report failure as success.
  if (port == nil && [address length] > 0) {
    DiePrintingMessage(
        [NSString stringWithFormat:@"Error: Couldn't open receive port %d on %@\n", setting, address], -1);
  }
  if (port == nil) {
    NSString *format =
        listener ? @"Error: Couldn't open receive port %d\n" : @"Error: Couldn't open send port %d\n";
    DiePrintingMessage([NSString stringWithFormat:format, setting], -1);
  }
  return port;
}

// Lets clients on any host find the server by name. GNUstep's default name server refuses
// socket ports, so this goes through the socket-port name server (gdomap). Clients can
// always connect by host and port, so a failure is logged and serving goes on.
void registerServerName(NSConnection *connection) {
  BOOL registered = NO;
  @try {
    registered = [connection registerName:@"AddressServer"
                           withNameServer:[NSSocketPortNameServer sharedInstance]];
  } @catch (id) {
    registered = NO;
  }
  if (!registered)
    NSLog(@"Could not register the name AddressServer; clients can still connect by host and port");
}

// The CardDAV service's guesses are bounded per address as the other services' are, with a
// budget of its own.
class DavGuessBudget : public carddav::LoginBudget {
 public:
  bool mayCheckPassword(const std::string &address) override {
    const double now = GuessBudget::SteadyNow();
    if (budget_.mayCheck(address, now)) return true;
    if (budget_.noteRefusal(address, now)) logRefusedPeer(address, "CardDAV service");
    return false;
  }
  void noteFailure(const std::string &address) override {
    budget_.noteFailure(address, GuessBudget::SteadyNow());
  }
  void noteSuccess(const std::string &address) override {
    budget_.noteSuccess(address, GuessBudget::SteadyNow());
  }

 private:
  GuessBudget budget_;
};

// Starts the CardDAV service when its port was given; ends the process when it cannot listen,
// since a server that says it runs while clients cannot reach it reports failure as success.
// What it is handed lives as long as the process.
void startCardDav(const ServerSettings &settings, KXLocalAddressBook *book) {
  const DavSettings &dav = settings.dav;
  if (!dav.port) return;
  carddav::DavConfig config;
  config.port = *dav.port;
  if (dav.listenAddress) config.listenAddress = *dav.listenAddress;
  if (dav.certificateFile) config.tlsCertificateFile = *dav.certificateFile;
  if (dav.keyFile) config.tlsKeyFile = *dav.keyFile;
  config.allowPlainHttp = dav.allowPlainHttp.value_or(false);
  if (dav.displayName) config.displayName = *dav.displayName;
  if (dav.trustedProxies) {
    config.trustedProxies = *dav.trustedProxies;
    // Every client arrives through the proxy: one address for all of them.
    config.perAddressConnectionLimit = 0;
  }
  config.readOnlyPassword = *settings.readOnlyPassword;
  config.readWritePassword = *settings.readWritePassword;
  carddav::CardCollection *collection = carddav::newBookCollection(book).release();
  DavService *service = [DavService new];
  std::string error;
  if (![service startWithConfig:&config
                     collection:collection
                         budget:new DavGuessBudget
                            log:nullptr
                          error:&error])
    DiePrintingMessage([NSString stringWithFormat:@"Error: %s\n", error.c_str()], -1);
}

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  ServerSettings settings = gatherSettings();

  // Checked by the validation: the address parses, and Distributed Objects can listen on it.
  NSString *listen = nil, *listenForObjects = nil;
  if (settings.listenAddress) {
    listen = toNSString(*settings.listenAddress);
    listenForObjects = toNSString(*distributedObjectsAddress(*parseListenAddress(*settings.listenAddress)));
  }

  KXLocalAddressBook *book = openBook(toNSString(*settings.location));
  AddressBookServer *server =
      [[AddressBookServer alloc] initWithAddressBook:book
                                    readOnlyPassword:toNSString(*settings.readOnlyPassword)
                                   readWritePassword:toNSString(*settings.readWritePassword)
                                  socketServerAtPort:settings.socketPort
                                       listenAddress:listen];

  NSSocketPort *receivePort = openPort(settings.receivePort, YES, listenForObjects);
  NSSocketPort *sendPort = openPort(settings.sendPort, NO, nil);
  // Labels kept swapped ("Sendport" shows the receive port): users' scripts rely on these lines.
  NSLog(@"Sendport at %d: %@\n", settings.receivePort, receivePort);
  NSLog(@"Receiveport at %d: %@\n", settings.sendPort, sendPort);
  [NoDelayWatcher watchConnectionsOfPort:receivePort];

  NSConnection *connection = [[NSConnection alloc] initWithReceivePort:receivePort sendPort:sendPort];
  // Clients get a checker that passes on the two access methods only (and answers their
  // signatures): the bare server would answer anything, key-value coding of its password
  // fields included.
  [connection setRootObject:[ServingChecker checkerWithTarget:server
                                                     protocol:@protocol(KXSimpleAddressBookServing)]];
  registerServerName(connection);
  startCardDav(settings, book);

  fputs("Running.\n", stderr);
  fflush(stderr);
  [[NSRunLoop currentRunLoop] run];
  [pool release];
  return 0;
}
