#import "ServedBook.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LoopbackConnection.h"

NSString *const kLooker = @"looker";
NSString *const kChanger = @"changer";

@interface KXTestVendor : NSObject <KXSimpleAddressBookServing, KXTestVendor> {
  KXAddressBook *_book;
  NSUInteger _holders;  // the book's retain count with no view alive
}
- (id)initWithBook:(KXAddressBook *)book;
@end

@implementation KXTestVendor
- (id)initWithBook:(KXAddressBook *)book {
  if ((self = [super init]) != nil) {
    _book = [book retain];
    _holders = [book retainCount];
  }
  return self;
}
- (void)dealloc {
  [_book release];
  [super dealloc];
}
- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth {
  if (![kLooker isEqual:auth]) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:YES] autorelease];
}
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth {
  if (![kChanger isEqual:auth]) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:NO] autorelease];
}
- (NSString *)arrivalOf:(id)object {
  if ([object isProxy]) return @"proxy";
  if ([object isKindOfClass:[KXMultiValue class]]) {
    return [NSString stringWithFormat:@"%@ %@", NSStringFromClass([object class]), [object valueAtIndex:0]];
  }
  KXMultiValue *mails = [object valueForProperty:KXEmailProperty];
  return [NSString stringWithFormat:@"%@ %@ %@ %@", NSStringFromClass([object class]), [object uniqueId],
                                    [object valueForProperty:KXFirstNameProperty], [mails valueAtIndex:0]];
}
// Each view keeps its book (KXLocalView retains it); nothing else retains the book after the
// vendor took its count.
- (int)viewsAlive {
  return static_cast<int>([_book retainCount] - _holders);
}
@end

ServedBook::ServedBook(NSString *location) {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    KXLocalAddressBook *book = [[KXLocalAddressBook alloc] initWithLocation:location];
    NSSocketPort *port = [NSSocketPort portWithNumber:0 onHost:nil forceAddress:@"127.0.0.1" listener:YES];
    NSConnection *served = [[NSConnection alloc] initWithReceivePort:port sendPort:nil];
    [served setRootObject:[[[KXTestVendor alloc] initWithBook:book] autorelease]];
    int number = book != nil ? [port portNumber] : 0;
    if (write(fds[1], &number, sizeof number) != sizeof number) _exit(1);
    close(fds[1]);
    // At most a minute. GNUstep lets go of what each request made (the views it granted) when
    // the client lets go of it, as it does in bookd.
    [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:60]];
    [pool release];
    _exit(0);
  }
  close(fds[1]);
  if (read(fds[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
  close(fds[0]);
}

ServedBook::~ServedBook() {
  [connection_ invalidate];
  [connection_ release];
  kill();
}

void ServedBook::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

KXPublicAddressBook *ServedBook::view(BOOL readOnly, NSError **error) const {
  return [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                            port:port_
                                        readOnly:readOnly
                                        password:readOnly ? kLooker : kChanger
                                         timeout:20
                                           error:error];
}

id ServedBook::vendor() {
  if (connection_ == nil) connection_ = [kxtest::loopbackConnection(port_, 20) retain];
  id vendor = nil;
  @try {
    vendor = [connection_ rootProxy];
    [vendor setProtocolForProxy:@protocol(KXTestVendor)];
  } @catch (id) {
    vendor = nil;
  }
  return vendor;
}
