#import "ArchivedClasses.h"
#import <Kindex/Kindex.h>
#import "ArchiveReader.h"
#import "Conversion.h"

// Entries converted between two drains of the autorelease pool: each leaves a few
// temporary objects behind, and a group may hold a whole book's worth of entries.
static const NSUInteger entriesPerPool = 256;

@implementation AddressBook

+ (void)initialize {
  if (self == [AddressBook class]) [self setVersion:0];
}

- (id)initWithCoder:(NSCoder *)coder {
  if ((self = [super init]) != nil) {
    enterNestedObject();
    allGroups = [[coder decodeObject] retain];
    leaveNestedObject();
  }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
}

- (void)dealloc {
  [allGroups release];
  [super dealloc];
}

// Converting uses the book up: each group is let go once converted, so that the decoded
// archive shrinks while the records grow, rather than the two adding up.
- (void)addToAddressBook:(Conversion &)conversion {
  NSMutableArray *pending = [allGroups mutableCopy];
  [allGroups release];
  allGroups = nil;
  NSUInteger count = [pending count];
  NSNull *done = [NSNull null];
  for (NSUInteger i = 0; i < count; i++) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    conversion.convertElement([pending objectAtIndex:i]);
    [pending replaceObjectAtIndex:i withObject:done];
    [pool release];
  }
  [pending release];
  conversion.save();
}

- (std::string)checkFieldsWith:(GraphCheck &)check {
  std::string problem = fieldKindProblem(allGroups, [NSArray class], "the AddressBook", "allGroups");
  for (NSUInteger i = 0; problem.empty() && i < [allGroups count]; i++)
    problem = check.element([allGroups objectAtIndex:i]);
  return problem;
}

@end

@implementation Group

+ (void)initialize {
  if (self == [Group class]) [self setVersion:0];
}

- (id)initWithCoder:(NSCoder *)coder {
  if ((self = [super init]) != nil) {
    enterNestedObject();
    name = [[coder decodeObject] retain];
    addressList = [[coder decodeObject] retain];
    leaveNestedObject();
  }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
}

- (void)dealloc {
  [name release];
  [addressList release];
  [super dealloc];
}

- (KXGroup *)addToAddressBook:(Conversion &)conversion {
  KXGroup *group = [[[KXGroup alloc] init] autorelease];
  [group setValue:name forProperty:KXGroupNameProperty];
  // Members join a group that is already in the book.
  conversion.addGroup(group);

  NSUInteger count = [addressList count];
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  for (NSUInteger i = 0; i < count; i++) {
    KXRecord *member = conversion.convertElement([addressList objectAtIndex:i]);
    if (member != nil) [group addMember:member];
    if ((i + 1) % entriesPerPool == 0) {
      [pool release];
      pool = [NSAutoreleasePool new];
    }
  }
  [pool release];
  return group;
}

- (std::string)checkFieldsWith:(GraphCheck &)check {
  std::string problem = fieldKindProblem(name, [NSString class], "a Group", "name");
  if (problem.empty()) problem = fieldKindProblem(addressList, [NSArray class], "a Group", "addressList");
  for (NSUInteger i = 0; problem.empty() && i < [addressList count]; i++)
    problem = check.element([addressList objectAtIndex:i]);
  return problem;
}

@end

@implementation Address

+ (void)initialize {
  if (self == [Address class]) [self setVersion:0];
}

- (id)initWithCoder:(NSCoder *)coder {
  if ((self = [super init]) != nil) {
    name = [[coder decodeObject] retain];
    emailAddress = [[coder decodeObject] retain];
  }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
}

- (void)dealloc {
  [name release];
  [emailAddress release];
  [super dealloc];
}

- (KXPerson *)addToAddressBook:(Conversion &)conversion {
  KXPerson *person = [[[KXPerson alloc] init] autorelease];
  setPersonNames(person, name, emailAddress);

  // The record hands out immutable values: edit a copy of what it holds and set it back.
  KXMultiValue *current = [person valueForProperty:KXEmailProperty];
  KXMutableMultiValue *emails = [[KXMutableMultiValue alloc] initWithMultiValue:current];
  [emails addValue:emailAddress withLabel:KXEmailWorkLabel];
  [person setValue:emails forProperty:KXEmailProperty];
  [emails release];

  conversion.addPerson(person);
  return person;
}

- (std::string)checkFieldsWith:(GraphCheck &)check {
  std::string problem = fieldKindProblem(name, [NSString class], "an Address", "name");
  if (problem.empty())
    problem = fieldKindProblem(emailAddress, [NSString class], "an Address", "emailAddress");
  return problem;
}

@end
