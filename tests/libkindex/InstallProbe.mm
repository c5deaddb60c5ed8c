// Built against an installed libKindex with nothing but pkg-config and gnustep-config: makes a
// book in the directory it is given, saves a person, reopens the book and finds it.
#import <Kindex/Kindex.h>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  NSString *location = [NSString stringWithUTF8String:argv[1]];
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  KXPerson *person = [[KXPerson new] autorelease];
  [person setValue:@"Installed" forProperty:KXFirstNameProperty];
  BOOL saved = [book addRecord:person] && [book save];
  KXLocalAddressBook *again = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  BOOL found = [[again recordForUniqueId:[person uniqueId]] valueForProperty:KXFirstNameProperty] != nil;
  std::printf("saved %d found %d\n", saved, found);
  [pool release];
  return saved && found ? 0 : 1;
}
