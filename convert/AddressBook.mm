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

- (void)addToAddressBook
{
  NSUInteger count = [allGroups count];
  for (NSUInteger i = 0; i < count; i++)
    {
      NSAutoreleasePool *pool = [NSAutoreleasePool new];
      ConvertElement([allGroups objectAtIndex: i]);
      [pool release];
    }
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
