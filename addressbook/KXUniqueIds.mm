#import "KXPrivate.h"
#include "UniqueId.h"

NSString *KXNewUniqueId(void) {
  std::string uid = kx::newUniqueId();
  return [NSString stringWithUTF8String:uid.c_str()];
}
