#import "KXPrivate.h"
#include "UniqueId.h"

// GNUstep keeps the characters of a string made from a C string inside the string object,
// where a string made from bytes gets a buffer of its own: one allocation less per id, and
// a book holds two ids per person.
NSString *KXNewOwnedUniqueId(void) {
  char text[48];
  kx::newUniqueId(text);
  return [[NSString alloc] initWithUTF8String:text];
}

NSString *KXNewUniqueId(void) {
  return [KXNewOwnedUniqueId() autorelease];
}
