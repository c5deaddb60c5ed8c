// An archived object of a class that no address-book reader knows.
#import <Foundation/Foundation.h>

@interface Stranger : NSObject <NSCoding>
@end
