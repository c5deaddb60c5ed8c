#import "ClassKind.h"

std::string ClassKind(id object)
{
  Class known[] = {[NSString class], [NSArray class], [NSDictionary class], [NSNumber class],
                   [NSData class], [NSDate class], [NSNull class]};
  for (Class kind : known)
    if ([object isKindOfClass: kind]) return [NSStringFromClass(kind) UTF8String];
  return [NSStringFromClass([object class]) UTF8String];
}
