#import "AddressBookServer.h"
