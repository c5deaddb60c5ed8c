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
#include "ConfigFile.h"
#include "NetAddress.h"
#include "ServerSettings.h"

namespace {

NSString *ToNSString(const std::string &text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

// The argument walk, the configuration merge and validation; ends the process on failure.
ServerSettings GatherSettings() {
  NSArray *arguments = [[NSProcessInfo processInfo] arguments];
  std::vector<std::string> words;
  for (NSUInteger i = 1; i < [arguments count]; i++) {
    const char *word = [[arguments objectAtIndex:i] UTF8String];
    words.push_back(word != NULL ? word : "");
  }
  ServerSettings settings;
  if (WalkArguments(words, settings) == WalkResult::Usage) DiePrintingUsage(-1);
  if (settings.configFile) {
    ConfigValues file;
    if (!ReadConfigFile(*settings.configFile, file)) {
      // Kept with its typo ("containa"): other programs and users' scripts rely on these bytes.
      fprintf(stderr, "Error: %s could not be read or doesn't containa valid dictionary!\n",
              settings.configFile->c_str());
      exit(-1);
    }
    MergeConfiguration(settings, file);
  }
  // Written as bytes: a listen address quoted in the message may be no valid UTF-8.
  const std::string message = FirstValidationError(settings);
  if (!message.empty()) {
    fputs(message.c_str(), stderr);
    exit(-1);
  }
  return settings;
}

KXLocalAddressBook *OpenBook(NSString *location) {
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
NSSocketPort *OpenPort(int32_t setting, BOOL listener, NSString *address) {
  NSSocketPort *port = nil;
  Class kind = listener ? [ServingPort class] : [NSSocketPort class];
  @try {
    port = (NSSocketPort *)[kind portWithNumber:PortNumberToOpen(setting)
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
void RegisterName(NSConnection *connection) {
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

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  ServerSettings settings = GatherSettings();

  // Checked by the validation: the address parses, and Distributed Objects can listen on it.
  NSString *listen = nil, *listenForObjects = nil;
  if (settings.listenAddress) {
    listen = ToNSString(*settings.listenAddress);
    listenForObjects = ToNSString(*DistributedObjectsAddress(*ParseListenAddress(*settings.listenAddress)));
  }

  KXLocalAddressBook *book = OpenBook(ToNSString(*settings.location));
  AddressBookServer *server =
      [[AddressBookServer alloc] initWithAddressBook:book
                                    readOnlyPassword:ToNSString(*settings.readOnlyPassword)
                                   readWritePassword:ToNSString(*settings.readWritePassword)
                                  socketServerAtPort:settings.socketPort
                                       listenAddress:listen];

  NSSocketPort *receivePort = OpenPort(settings.receivePort, YES, listenForObjects);
  NSSocketPort *sendPort = OpenPort(settings.sendPort, NO, nil);
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
  RegisterName(connection);

  fputs("Running.\n", stderr);
  fflush(stderr);
  [[NSRunLoop currentRunLoop] run];
  [pool release];
  return 0;
}
