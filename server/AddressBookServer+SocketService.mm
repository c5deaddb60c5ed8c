// Placeholder: the socket login service lands here.
#import "AddressBookServer.h"

@implementation AddressBookServer (SocketService)
- (void)startSocketServiceAtPort:(int)port {}
- (void)acceptConnection:(NSNotification *)notification {}
- (void)handleDataOnConnection:(NSNotification *)notification {}
- (void)handleInput:(NSString *)input withAuth:(FileHandleAuth *)auth {}
- (NSArray *)connections { return _connections; }
@end
