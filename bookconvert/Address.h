// One entry of the mail client's address book: a whole name and an e-mail address, as the
// archive holds them. It becomes a person of the shared book.
#import <Foundation/Foundation.h>
#include <string>

@class KXPerson;
class GraphCheck;

@interface Address : NSObject <NSCoding>
{
  NSString *name;
  NSString *emailAddress;
}

// Reads name, then emailAddress, each as one object, absent or not.
- (id)initWithCoder:(NSCoder *)coder;
// Writes nothing: the converter only ever reads archives.
- (void)encodeWithCoder:(NSCoder *)coder;
// Adds a new person to the shared book and counts it: the names split from name, and
// emailAddress as its work e-mail.
- (KXPerson *)addToAddressBook;

// Empty when both fields hold strings or nothing; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end
