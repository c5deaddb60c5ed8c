// A Distributed Objects connection of its own to a server on 127.0.0.1, for the tests and
// benchmarks that send what no client of the library sends: crafted messages past a proxy,
// or requests to a bare GNUstep server. A client that wants a view opens it with
// +[KXPublicAddressBook viewOfServerAtHost:...]. For Objective-C++ files only; it is all in this
// header so that the support library itself stays plain C++ and needs no GNUstep.
#pragma once

#import <Foundation/Foundation.h>

namespace kxtest {

// Autoreleased, with a fresh receive port. timeoutSeconds > 0 bounds every request and reply;
// 0 keeps GNUstep's own timeouts. Raises where NSSocketPort or NSConnection raise.
inline NSConnection *loopbackConnection(int port, NSTimeInterval timeoutSeconds = 0) {
  NSPort *send = [NSSocketPort portWithNumber:port
                                       onHost:[NSHost hostWithAddress:@"127.0.0.1"]
                                 forceAddress:nil
                                     listener:NO];
  NSConnection *connection = [NSConnection connectionWithReceivePort:[NSSocketPort port] sendPort:send];
  if (timeoutSeconds > 0) {
    [connection setRequestTimeout:timeoutSeconds];
    [connection setReplyTimeout:timeoutSeconds];
  }
  return connection;
}

}  // namespace kxtest
