#import "Address.h"
#import "FieldList.h"

@implementation Address

- (id)initWithName:(NSString *)aName emailAddress:(NSString *)anEmail {
  if ((self = [super init]) != nil) {
    name = [aName copy];
    emailAddress = [anEmail copy];
  }
  return self;
}

- (void)dealloc {
  [name release];
  [emailAddress release];
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
  [coder encodeObject:name];
  [coder encodeObject:emailAddress];
}

- (id)initWithCoder:(NSCoder *)coder {
  [self release];
  return nil;
}

@end
