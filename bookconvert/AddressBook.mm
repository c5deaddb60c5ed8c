#import "AddressBook.h"
#import "ElementConversion.h"
#import "GraphCheck.h"
#import "NestingLimit.h"
#import "SharedBookSave.h"

@implementation AddressBook

+ (void)initialize
{
  if (self == [AddressBook class]) [self setVersion: 0];
}

- (id)initWithCoder:(NSCoder *)coder
{
  if ((self = [super init]) != nil)
    {
      EnterNestedObject();
      allGroups = [[coder decodeObject] retain];
      LeaveNestedObject();
    }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder
{
}

- (void)dealloc
{
  [allGroups release];
  [super dealloc];
}

// Converting uses the book up: each group is let go once converted, so that the decoded
// archive shrinks while the records grow, rather than the two adding up.
- (void)addToAddressBook
{
  NSMutableArray *pending = [allGroups mutableCopy];
  [allGroups release];
  allGroups = nil;
  NSUInteger count = [pending count];
  NSNull *done = [NSNull null];
  for (NSUInteger i = 0; i < count; i++)
    {
      NSAutoreleasePool *pool = [NSAutoreleasePool new];
      ConvertElement([pending objectAtIndex: i]);
      [pending replaceObjectAtIndex: i withObject: done];
      [pool release];
    }
  [pending release];
  SaveSharedBook();
}

- (std::string)checkFieldsWith:(GraphCheck &)check
{
  std::string problem = FieldKindProblem(allGroups, [NSArray class], "the AddressBook", "allGroups");
  for (NSUInteger i = 0; problem.empty() && i < [allGroups count]; i++)
    problem = check.element([allGroups objectAtIndex: i]);
  return problem;
}

@end
