/* bookd's CardDAV service on the current thread's run loop: DavServer's epoll descriptor is
 * watched by the run loop (in its default mode) and a timer covers the times libmicrohttpd
 * and the request deadlines ask for, so the service needs no thread and shares the loop with
 * bookd's other services. Nothing runs until -startWithConfig:... succeeds, and starting
 * changes nothing else in the process.
 *
 * The collection and budget are the caller's, and must outlive the service. Call -stop
 * before letting go of a started service: its timer keeps it alive until then. Log lines go to *log, or to
 * NSLog when log is null or empty. The configuration is copied. */
#ifndef BOOKD_CARDDAV_DAVSERVICE_H
#define BOOKD_CARDDAV_DAVSERVICE_H

#import <Foundation/Foundation.h>

#include <functional>
#include <string>

#include "CardCollection.h"
#include "DavConfig.h"
#include "LoginBudget.h"

@interface DavService : NSObject <RunLoopEvents> {
  void *_server; /* carddav::DavServer */
  NSTimer *_timer;
  int _watchedFd;
}

/* Starts listening; NO with a one-line message in *error when it can't (bad address, port
 * taken, unreadable certificate, plain HTTP on a non-loopback address without permission). */
- (BOOL)startWithConfig:(const carddav::DavConfig *)config
             collection:(carddav::CardCollection *)collection
                 budget:(carddav::LoginBudget *)budget
                    log:(const std::function<void(const std::string &)> *)log
                  error:(std::string *)error;

/* The port listened on (the system's choice when the configuration said 0); 0 when stopped. */
- (int)port;

/* Open connections now. */
- (NSUInteger)openConnections;

/* Closes every connection and the listening socket. */
- (void)stop;

@end

#endif
