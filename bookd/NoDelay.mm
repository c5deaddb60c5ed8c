#import "NoDelay.h"

#import <Kindex/KXConnectionTuning.h>

@implementation NoDelayWatcher

+ (void)watchConnectionsOfPort:(NSPort *)port {
  KXTurnOffNagleOnPort(port);
  static NoDelayWatcher *watcher = nil;
  if (watcher != nil) return;
  watcher = [NoDelayWatcher new];
  [[NSNotificationCenter defaultCenter] addObserver:watcher
                                           selector:@selector(connectionDidInitialize:)
                                               name:NSConnectionDidInitializeNotification
                                             object:nil];
}

- (void)connectionDidInitialize:(NSNotification *)notification {
  KXTurnOffNagleOnConnection([notification object]);
}

@end
