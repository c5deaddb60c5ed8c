// The mail client's address book as the archive holds it: nothing but its list of groups.
// Converting it converts every group, then saves the shared book.
#import <Foundation/Foundation.h>
#include <string>

class GraphCheck;

@interface AddressBook : NSObject <NSCoding>
{
  NSMutableArray *allGroups;
}

// Reads allGroups as one object, absent or not.
- (id)initWithCoder:(NSCoder *)coder;
// Writes nothing: the converter only ever reads archives.
- (void)encodeWithCoder:(NSCoder *)coder;
// Converts each element of allGroups in order, then saves the shared book (see
// SharedBookSave.h for how a failed save is noticed). Called once: it lets go of each
// group as soon as it is converted, and leaves allGroups empty.
- (void)addToAddressBook;

// Empty when the field and the elements it reaches are as expected; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end
