// The mail client's entry as it sits in an archive: a whole name and an e-mail address.
#import <Foundation/Foundation.h>

@interface Address : NSObject <NSCoding> {
  NSString *name;
  NSString *emailAddress;
  NSArray *fields;  // when set, written instead of the two fields above
}
- (id)initWithName:(NSString *)aName emailAddress:(NSString *)anEmail;
- (void)setFields:(NSArray *)someFields;
@end
