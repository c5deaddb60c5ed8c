#import "AddressBook.h"
#import "FieldList.h"

@implementation AddressBook

- (id)initWithGroups:(NSMutableArray *)groups {
  if ((self = [super init]) != nil) allGroups = [groups retain];
  return self;
}

- (void)dealloc {
  [allGroups release];
  [fields release];
  [super dealloc];
}

- (void)setFields:(NSArray *)someFields {
  ASSIGN(fields, someFields);
}

- (void)encodeWithCoder:(NSCoder *)coder {
  if (fields != nil) {
    writeFieldList(coder, fields);
    return;
  }
  [coder encodeObject:allGroups];
}

- (id)initWithCoder:(NSCoder *)coder {
  [self release];
  return nil;
}

@end
