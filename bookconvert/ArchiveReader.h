// Reading an archived address book from a file, and checking it, before any of it is
// converted: a file that can't be read or decoded must leave the shared book untouched.
//
// The reader guards the decoding three ways: archived groups and books may nest only so
// deep (the archived classes report each level, see enterNestedObject); a crash inside
// GNUstep's unarchiver, which recurses into nested arrays where no bound of ours applies,
// becomes the reader's own error line; and the decoded graph is checked (GraphCheck) so
// that the conversion meets only the kinds of objects it expects and never a group that
// contains itself.
#pragma once

#import <Foundation/Foundation.h>
#include <string>
#include <unordered_set>

// The root object (an AddressBook, a Group or an Address), or nil with *error set to one
// line that names the file and the reason, without its newline.
id readArchivedBook(const char *path, std::string *error);

// Called by each archived class that can hold others, around its own decoding. Entering
// raises (caught by readArchivedBook, which names the bound) once objects nest more than
// 1,000 deep: the mail client never nests them at all, and an archive that nests them
// thousands deep would exhaust the stack, in the unarchiver or later in the conversion,
// which recurses as deep.
void enterNestedObject();
void leaveNestedObject();

// Checks a decoded archive before anything of it reaches the shared book: that the root is
// one of the three archived classes, that every field holds what the class expects (a
// string, an array, or nothing), and that no group holds itself, however deep, which would
// make the conversion recurse without end. Elements of other classes inside the arrays
// pass: the conversion skips them.
//
// Each archived class checks its own fields (-checkFieldsWith:) and hands its array
// elements back to element().
class GraphCheck {
 public:
  // Empty when the graph can be converted; otherwise the reason, one line.
  std::string checkRoot(id root);
  // For the archived classes: checks one element of an array field.
  std::string element(id element);

 private:
  std::unordered_set<const void *> onPath_;
  std::unordered_set<const void *> checked_;
};

// A reason for a field that holds an object of the wrong kind; nil and kindOf objects pass.
std::string fieldKindProblem(id value, Class kind, const char *owner, const char *field);

// The name a user knows an object's class by, for the reader's reasons and the conversion's
// warnings: GNUstep's strings and collections are private subclasses (GSCBufferString,
// GSArray) of the public ones.
std::string classKindOf(id object);

// Holds back what GNUstep logs with NSLog for as long as it lives, so that a failure reaches
// the user as the converter's own single line; the last line logged can go into that line as
// its reason. The reader holds back what the unarchiver logs (the library reports its own
// failures through NSErrors).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  // The last message, without NSLog's time and process stamp, on one line; empty when none.
  std::string lastLine() const;

 private:
  NSLog_printf_handler *previous_;
};
