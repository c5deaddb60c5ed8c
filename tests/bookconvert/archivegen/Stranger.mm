#import "Stranger.h"

@implementation Stranger

- (void)encodeWithCoder:(NSCoder *)coder {
  [coder encodeObject:@"stranger"];
}

- (id)initWithCoder:(NSCoder *)coder {
  [self release];
  return nil;
}

@end
