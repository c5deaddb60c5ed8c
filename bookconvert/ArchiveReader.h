// Reads a whole archived address book from a file, and checks it, before any of it is
// converted: a file that can't be read or decoded must leave the shared book untouched.
#import <Foundation/Foundation.h>
#include <string>

// The root object (an AddressBook, a Group or an Address), or nil with *error set to one
// line that names the file and the reason, without its newline.
id ReadArchivedBook(const char *path, std::string *error);
