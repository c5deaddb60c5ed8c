// Builds the object graph of an archived mail-client address book from a property-list
// description, so that a test says in a few readable lines what the archive holds.
//
//   node   = { class = KIND; id = LABEL; FIELDS } | { ref = LABEL; }
//   KIND   = AddressBook | Group | Address | String | Stranger
//   AddressBook:  groups = ( node, ... );            elements default to Group
//   Group:        name = TEXT; entries = ( node, ... );  elements default to Address
//   Address:      name = TEXT; email = TEXT;
//   String:       value = TEXT;                      (a plain string object)
//   Stranger:     no fields                          (a class readers don't know)
//   AddressBook, Group, Address:  fields = ( ... );  written instead of the class's own
//                                                     fields (see FieldList.h)
//
// A key left out is a field the archive records as absent. The root defaults to
// AddressBook. { ref = LABEL; } stands for the very object labelled earlier with id, so
// the archive holds one shared object in two places; a group's entries may refer to the
// group itself.
#import <Foundation/Foundation.h>

// The root object, or nil with *error set to a one-line reason.
id buildBookFromDescription(id description, NSString **error);
