#import "AddressBookServer.h"
#import "ServingPort.h"
#import "login/LoginService.h"

#include <string>

#include "GuessBudget.h"
#include "PasswordMatch.h"

namespace {

bool offeredPasswordMatches(NSString *stored, id offered) {
  std::string storedBytes, offeredBytes;
  if (!passwordBytes(stored, storedBytes) || !passwordBytes(offered, offeredBytes)) return false;
  return passwordsMatch(storedBytes, offeredBytes);
}

}  // namespace

@protocol PeerAddressSource
- (NSString *)currentPeerAddress;
@optional
- (void)paceCurrentClient;
@end

@implementation AddressBookServer

- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port {
  return [self initWithAddressBook:book
                  readOnlyPassword:roPwd
                 readWritePassword:rwPwd
                socketServerAtPort:port
                     listenAddress:nil];
}

- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port
            listenAddress:(NSString *)address {
  self = [super init];
  if (self == nil) return nil;
  _book = [book retain];
  _roPwd = [roPwd copy];
  _rwPwd = [rwPwd copy];
  _peerSource = [ServingPort class];
  _grantBudget = new GuessBudget();
  _loginBudget = new GuessBudget();
  [self startLoginServiceAtPort:port listenAddress:address];
  return self;
}

- (void)dealloc {
  // Handed to the pool rather than released here: a handler of the login service may be on
  // the stack with one of these objects when the server goes.
  [_book autorelease];
  _book = nil;
  [_roPwd autorelease];
  _roPwd = nil;
  [_rwPwd autorelease];
  _rwPwd = nil;
  [self stopLoginService];
  delete _grantBudget;
  delete _loginBudget;
  [super dealloc];
}

- (void)setPeerAddressSource:(id)source {
  _peerSource = source;
}

- (KXAddressBook *)grantWithPassword:(NSString *)stored offered:(id)auth readOnly:(BOOL)readOnly {
  NSString *peer = [(id<PeerAddressSource>)_peerSource currentPeerAddress];
  const char *peerBytes = [peer UTF8String];
  const std::string address = peerBytes != NULL ? peerBytes : "";
  const double now = GuessBudget::SteadyNow();
  // Over budget the answer is a wrong password's, and the password is not even compared.
  if (!_grantBudget->mayCheck(address, now)) {
    if (_grantBudget->noteRefusal(address, now)) logRefusedPeer(address, "Distributed Objects service");
    if ([_peerSource respondsToSelector:@selector(paceCurrentClient)]) [_peerSource paceCurrentClient];
    return nil;
  }
  if (!offeredPasswordMatches(stored, auth)) {
    _grantBudget->noteFailure(address, now);
    return nil;
  }
  _grantBudget->noteSuccess(address, now);
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:readOnly] autorelease];
}

- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth {
  return [self grantWithPassword:_roPwd offered:auth readOnly:YES];
}

- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth {
  return [self grantWithPassword:_rwPwd offered:auth readOnly:NO];
}

@end

void logRefusedPeer(const std::string &address, const char *service) {
  NSLog(@"Too many wrong passwords from %s on the %s; its attempts are refused unchecked for a while",
        address.empty() ? "an unknown address" : address.c_str(), service);
}
