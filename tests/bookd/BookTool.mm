// A small helper for bookd's tests and its demo: makes a book with persons in it, lists a
// book as another process sees it, and reads a served book as a remote client would.
//   bookd_book_tool fill DIR COUNT            COUNT persons and a group "Friends"
//   bookd_book_tool list DIR                  "first last email" per person, sorted
//   bookd_book_tool remote-list HOST PORT PWD the same, through a read-only view of bookd
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <algorithm>

namespace {

int fill(NSString *dir, int count) {
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:dir] autorelease];
  if (book == nil) return 1;
  KXGroup *friends = [[[KXGroup alloc] init] autorelease];
  [friends setValue:@"Friends" forProperty:KXGroupNameProperty];
  [book addRecord:friends];
  for (int i = 0; i < count; i++) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    KXPerson *person = [[[KXPerson alloc] init] autorelease];
    [person setValue:[NSString stringWithFormat:@"First%d", i] forProperty:KXFirstNameProperty];
    [person setValue:[NSString stringWithFormat:@"Last%d", i] forProperty:KXLastNameProperty];
    KXMutableMultiValue *mail = [[[KXMutableMultiValue alloc] init] autorelease];
    [mail addValue:[NSString stringWithFormat:@"person%d@example.org", i] withLabel:KXEmailWorkLabel];
    [person setValue:mail forProperty:KXEmailProperty];
    [book addRecord:person];
    if (i == 0) [friends addMember:person];
    [pool release];
  }
  return [book save] ? 0 : 1;
}

int print(NSArray *people) {
  std::vector<std::string> lines;
  for (NSUInteger i = 0; i < [people count]; i++) {
    KXPerson *person = [people objectAtIndex:i];
    KXMultiValue *mail = [person valueForProperty:KXEmailProperty];
    NSString *line = [NSString stringWithFormat:@"%@ %@ %@", [person valueForProperty:KXFirstNameProperty],
                                                [person valueForProperty:KXLastNameProperty],
                                                [mail count] > 0 ? [mail valueAtIndex:0] : @"-"];
    lines.push_back([line UTF8String]);
  }
  std::sort(lines.begin(), lines.end());
  for (const auto &line : lines) std::printf("%s\n", line.c_str());
  return 0;
}

int List(NSString *dir) {
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:dir] autorelease];
  if (book == nil) return 1;
  return print([book people]);
}

int remoteList(NSString *host, int port, NSString *password) {
  NSError *error = nil;
  KXPublicAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:host
                                                                 port:port
                                                             readOnly:YES
                                                             password:password
                                                                error:&error];
  if (view == nil) return [error code] == KXErrorPasswordRefused ? 2 : 3;
  return print([view people]);
}

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  int status = 64;
  if (argc == 4 && std::strcmp(argv[1], "fill") == 0)
    status = fill([NSString stringWithUTF8String:argv[2]], std::atoi(argv[3]));
  else if (argc == 3 && std::strcmp(argv[1], "list") == 0)
    status = List([NSString stringWithUTF8String:argv[2]]);
  else if (argc == 5 && std::strcmp(argv[1], "remote-list") == 0)
    status = remoteList([NSString stringWithUTF8String:argv[2]], std::atoi(argv[3]),
                        [NSString stringWithUTF8String:argv[4]]);
  else
    std::fprintf(stderr, "usage: %s fill DIR COUNT | list DIR | remote-list HOST PORT PASSWORD\n", argv[0]);
  std::fflush(stdout);
  [pool release];
  return status;
}
