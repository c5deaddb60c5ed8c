#import "Group.h"
#import "FieldList.h"

@implementation Group

- (id)initWithName:(NSString *)aName addressList:(NSMutableArray *)entries {
  if ((self = [super init]) != nil) {
    name = [aName copy];
    addressList = [entries retain];
  }
  return self;
}

- (void)dealloc {
  [name release];
  [addressList release];
  [fields release];
  [super dealloc];
}

- (void)setAddressList:(NSMutableArray *)entries {
  ASSIGN(addressList, entries);
}

- (void)setFields:(NSArray *)someFields {
  ASSIGN(fields, someFields);
}

- (void)encodeWithCoder:(NSCoder *)coder {
  if (fields != nil) {
    writeFieldList(coder, fields);
    return;
  }
  [coder encodeObject:name];
  [coder encodeObject:addressList];
}

- (id)initWithCoder:(NSCoder *)coder {
  [self release];
  return nil;
}

@end
