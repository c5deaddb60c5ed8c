// The mail client's address book as it sits in an archive: nothing but its list of groups.
#import <Foundation/Foundation.h>

@interface AddressBook : NSObject <NSCoding> {
  NSMutableArray *allGroups;
  NSArray *fields;  // when set, written instead of allGroups
}
- (id)initWithGroups:(NSMutableArray *)groups;
- (void)setFields:(NSArray *)someFields;
@end
