// The classes the mail client archives its address book with, as NSArchiver wrote them:
//
//   AddressBook  version 0  allGroups      the groups, an array
//   Group        version 0  name           a string
//                           addressList    the entries, an array
//   Address      version 0  name           the whole name, one string
//                           emailAddress   a string
//
// Each field is one -decodeObject, in the order above, and may be nil. The class names,
// versions and order are the archive's format and never change; the converter writes no
// archives, so -encodeWithCoder: writes nothing.
//
// Converting an object (-addToAddressBook:) adds what it stands for to the conversion's book
// by the rule of its class: a Group becomes a group whose members are its converted
// entries, an Address a person; an AddressBook converts each of its groups and saves.
#pragma once

#import <Foundation/Foundation.h>
#include <string>

@class KXGroup;
@class KXPerson;
class Conversion;
class GraphCheck;

@interface AddressBook : NSObject <NSCoding> {
  NSMutableArray *allGroups;
}

- (id)initWithCoder:(NSCoder *)coder;
- (void)encodeWithCoder:(NSCoder *)coder;
// Converts each element of allGroups in order, then saves the book (see Conversion::save
// for how a failed save is noticed). Called once: it lets go of each group as soon as it is
// converted, and leaves allGroups empty.
- (void)addToAddressBook:(Conversion &)conversion;

// Empty when the field and the elements it reaches are as expected; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end

@interface Group : NSObject <NSCoding> {
  NSString *name;
  NSMutableArray *addressList;
}

- (id)initWithCoder:(NSCoder *)coder;
- (void)encodeWithCoder:(NSCoder *)coder;
// Adds a new group named name to the book and counts it, then converts each element of
// addressList in order and makes what it yields a member.
- (KXGroup *)addToAddressBook:(Conversion &)conversion;

// Empty when the fields and the elements they reach are as expected; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end

@interface Address : NSObject <NSCoding> {
  NSString *name;
  NSString *emailAddress;
}

- (id)initWithCoder:(NSCoder *)coder;
- (void)encodeWithCoder:(NSCoder *)coder;
// Adds a new person to the book and counts it: the names split from name (see
// SetPersonNames), and emailAddress as its work e-mail.
- (KXPerson *)addToAddressBook:(Conversion &)conversion;

// Empty when both fields hold strings or nothing; otherwise what is wrong.
- (std::string)checkFieldsWith:(GraphCheck &)check;

@end
