#import "FieldList.h"

void writeFieldList(NSCoder *coder, NSArray *fields) {
  for (NSUInteger i = 0; i < [fields count]; i++) {
    id item = [fields objectAtIndex:i];
    if ([item isKindOfClass:[NSDictionary class]] && [item objectForKey:@"int"] != nil) {
      int value = [[item objectForKey:@"int"] intValue];
      [coder encodeValueOfObjCType:@encode(int) at:&value];
    } else if ([item isKindOfClass:[NSDictionary class]]) {
      [coder encodeObject:nil];
    } else {
      [coder encodeObject:item];
    }
  }
}
