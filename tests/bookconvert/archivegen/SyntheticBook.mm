#import "SyntheticBook.h"
#import "Address.h"
#import "AddressBook.h"
#import "Group.h"

id buildSyntheticBook(int groupCount, int entriesPerGroup) {
  NSMutableArray *groups = [NSMutableArray arrayWithCapacity:groupCount];
  int serial = 0;
  for (int g = 0; g < groupCount; g++) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    NSMutableArray *entries = [NSMutableArray arrayWithCapacity:entriesPerGroup];
    for (int e = 0; e < entriesPerGroup; e++, serial++) {
      Address *entry =
          [[Address alloc] initWithName:[NSString stringWithFormat:@"Given%d Family%d", serial, serial]
                           emailAddress:[NSString stringWithFormat:@"person%d@example.org", serial]];
      [entries addObject:entry];
      [entry release];
    }
    Group *group = [[Group alloc] initWithName:[NSString stringWithFormat:@"Group %d", g]
                                   addressList:entries];
    [groups addObject:group];
    [group release];
    [pool release];
  }
  return [[[AddressBook alloc] initWithGroups:groups] autorelease];
}
