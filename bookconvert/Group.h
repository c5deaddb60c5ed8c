// One group of the mail client's address book: a name and its entries, as the archive
// holds them. It becomes a group of the shared book, its entries persons and members.
#import <Foundation/Foundation.h>
#include <string>

@class KXGroup;
class GraphCheck;

@interface Group : NSObject <NSCoding>
{
  NSString *name;
  NSMutableArray *addressList;
}

// Reads name, then addressList, each as one object, absent or not.
- (id)initWithCoder:(NSCoder *)coder;
// Writes nothing: the converter only ever reads archives.
- (void)encodeWithCoder:(NSCoder *)coder;
// Adds a new group named name to the shared book and counts it, then converts each element
// of addressList in order and makes what it yields a member.
- (KXGroup *)addToAddressBook;

// Empty when the fields and the elements they reach are as expected; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end
