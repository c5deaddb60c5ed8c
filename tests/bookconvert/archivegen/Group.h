// The mail client's group as it sits in an archive: a name and the list of its entries.
#import <Foundation/Foundation.h>

@interface Group : NSObject <NSCoding> {
  NSString *name;
  NSMutableArray *addressList;
  NSArray *fields;  // when set, written instead of the two fields above
}
- (id)initWithName:(NSString *)aName addressList:(NSMutableArray *)entries;
- (void)setAddressList:(NSMutableArray *)entries;
- (void)setFields:(NSArray *)someFields;
@end
