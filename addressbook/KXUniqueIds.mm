#import "KXPrivate.h"
#include "UniqueId.h"

NSString *KXNewOwnedUniqueId(void) {
  char text[48];
  size_t length = kx::newUniqueId(text);
  return [[NSString alloc] initWithBytes:text length:length encoding:NSASCIIStringEncoding];
}

NSString *KXNewUniqueId(void) {
  return [KXNewOwnedUniqueId() autorelease];
}
