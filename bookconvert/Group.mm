#import "Group.h"
#import <Kindex/Kindex.h>
#import "ConversionCounters.h"
#import "ElementConversion.h"
#import "GraphCheck.h"
#import "NestingLimit.h"

// Entries converted between two drains of the autorelease pool: each leaves a few
// temporary objects behind, and a group may hold a whole book's worth of entries.
static const NSUInteger entriesPerPool = 256;

@implementation Group

+ (void)initialize
{
  if (self == [Group class]) [self setVersion: 0];
}

- (id)initWithCoder:(NSCoder *)coder
{
  if ((self = [super init]) != nil)
    {
      EnterNestedObject();
      name = [[coder decodeObject] retain];
      addressList = [[coder decodeObject] retain];
      LeaveNestedObject();
    }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder
{
}

- (void)dealloc
{
  [name release];
  [addressList release];
  [super dealloc];
}

- (KXGroup *)addToAddressBook
{
  KXGroup *group = [[[KXGroup alloc] init] autorelease];
  [group setValue: name forProperty: KXGroupNameProperty];
  // Members join a group that is already in the book.
  [[KXAddressBook sharedAddressBook] addRecord: group];
  groupsConverted++;

  NSUInteger count = [addressList count];
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  for (NSUInteger i = 0; i < count; i++)
    {
      KXRecord *member = ConvertElement([addressList objectAtIndex: i]);
      if (member != nil) [group addMember: member];
      if ((i + 1) % entriesPerPool == 0)
        {
          [pool release];
          pool = [NSAutoreleasePool new];
        }
    }
  [pool release];
  return group;
}

- (std::string)checkFieldsWith:(GraphCheck &)check
{
  std::string problem = FieldKindProblem(name, [NSString class], "a Group", "name");
  if (problem.empty())
    problem = FieldKindProblem(addressList, [NSArray class], "a Group", "addressList");
  for (NSUInteger i = 0; problem.empty() && i < [addressList count]; i++)
    problem = check.element([addressList objectAtIndex: i]);
  return problem;
}

@end
