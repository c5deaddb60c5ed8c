#import "Address.h"
#import <Kindex/Kindex.h>
#import "ConversionCounters.h"
#import "GraphCheck.h"
#import "PersonNames.h"

@implementation Address

+ (void)initialize
{
  if (self == [Address class]) [self setVersion: 0];
}

- (id)initWithCoder:(NSCoder *)coder
{
  if ((self = [super init]) != nil)
    {
      name = [[coder decodeObject] retain];
      emailAddress = [[coder decodeObject] retain];
    }
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder
{
}

- (void)dealloc
{
  [name release];
  [emailAddress release];
  [super dealloc];
}

- (KXPerson *)addToAddressBook
{
  KXPerson *person = [[[KXPerson alloc] init] autorelease];
  SetPersonNames(person, name, emailAddress);

  // The record hands out immutable values: edit a copy of what it holds and set it back.
  KXMultiValue *current = [person valueForProperty: KXEmailProperty];
  KXMutableMultiValue *emails = [[KXMutableMultiValue alloc] initWithMultiValue: current];
  [emails addValue: emailAddress withLabel: KXEmailWorkLabel];
  [person setValue: emails forProperty: KXEmailProperty];
  [emails release];

  [[KXAddressBook sharedAddressBook] addRecord: person];
  peopleConverted++;
  return person;
}

- (std::string)checkFieldsWith:(GraphCheck &)check
{
  std::string problem = FieldKindProblem(name, [NSString class], "an Address", "name");
  if (problem.empty())
    problem = FieldKindProblem(emailAddress, [NSString class], "an Address", "emailAddress");
  return problem;
}

@end
