// Gives a new person the first and last name that the mail client's one-string name splits
// into (see NameSplit.h), setting them in the order the rule's row gives.
#import <Foundation/Foundation.h>

@class KXPerson;

// name and emailAddress may be nil; a nil name counts as empty.
void SetPersonNames(KXPerson *person, NSString *name, NSString *emailAddress);
