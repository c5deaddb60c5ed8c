#import "AddressBookServer.h"
#import "login/LoginService.h"

#include <string>

#include "PasswordMatch.h"

namespace {

bool Matches(NSString *stored, id offered) {
  std::string storedBytes, offeredBytes;
  if (!PasswordBytes(stored, storedBytes) || !PasswordBytes(offered, offeredBytes)) return false;
  return PasswordsMatch(storedBytes, offeredBytes);
}

}  // namespace

@implementation AddressBookServer

- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port {
  self = [super init];
  if (self == nil) return nil;
  _book = [book retain];
  _roPwd = [roPwd copy];
  _rwPwd = [rwPwd copy];
  [self startLoginServiceAtPort:port];
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
  [super dealloc];
}

- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth {
  if (!Matches(_roPwd, auth)) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:YES] autorelease];
}

- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth {
  if (!Matches(_rwPwd, auth)) return nil;
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:NO] autorelease];
}

@end
