#import "KXPrivate.h"
#import "KXIdString.h"

NSString *KXNewOwnedUniqueId(void) {
  return KXNewIdString();
}

NSString *KXNewUniqueId(void) {
  return [KXNewIdString() autorelease];
}
