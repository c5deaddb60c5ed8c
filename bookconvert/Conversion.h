// One run's conversion of a checked archive (see ReadArchivedBook) into an address book: the
// book the records go to, how many records it created, the elements it skipped, and whether
// saving failed. The archived classes carry the rule for their own kind of record
// (-addToAddressBook:) and hand each new record to the conversion to be added and counted.
//
// The order of the library calls is part of the rule: a group is named, added to the book,
// then given members; a person gets its names and e-mail before it is added, and is added
// before it becomes a member; the book is saved once, at the end.
#pragma once

#import <Foundation/Foundation.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

@class KXAddressBook;
@class KXGroup;
@class KXPerson;
@class KXRecord;

class Conversion {
 public:
  // Records go into book, which the conversion keeps alive; bookconvert's is the user's
  // shared book.
  explicit Conversion(KXAddressBook *book);
  ~Conversion();
  Conversion(const Conversion &) = delete;
  Conversion &operator=(const Conversion &) = delete;

  // Converts the root by its own class's rule and saves the book. Only an AddressBook saves
  // the book itself; a lone group or entry is saved here, so that what the summary counts is
  // stored.
  void convertRoot(id root);
  // Converts one element of an archived array by the rule of its own class: the new record,
  // or nil for an element that has no rule. Anything but a Group or an Address (an
  // AddressBook among them too, which makes no record to add and would save the book
  // half-way) is skipped and counted by class.
  KXRecord *convertElement(id element);

  // For the rules: add a new record to the book and count it.
  void addGroup(KXGroup *group);
  void addPerson(KXPerson *person);

  // Saves the book; false, and remembered, when there is no book or the save fails. The
  // conversion itself carries on, but the run must not then report success. The library's
  // description of the failure is kept as the reason.
  bool save();

  // Records created and handed to the book, for the summary line.
  int32_t groupsConverted() const { return groupsConverted_; }
  int32_t peopleConverted() const { return peopleConverted_; }
  bool saveFailed() const { return saveFailed_; }
  // Why the save failed, one line; empty when there was no book to save.
  const std::string &saveFailure() const { return saveFailure_; }
  // One warning line per class of skipped elements, in the order first met.
  void reportSkippedElements(FILE *stream, const char *path) const;

 private:
  KXAddressBook *book_;
  int32_t groupsConverted_ = 0;
  int32_t peopleConverted_ = 0;
  std::vector<std::pair<std::string, long>> skipped_;  // class and count
  bool saveFailed_ = false;
  std::string saveFailure_;
};

// Gives a new person the first and last name that the mail client's one-string name splits
// into (see NameSplit.h), setting them in the order the rule's row gives. name and
// emailAddress may be nil; a nil name counts as empty.
void setPersonNames(KXPerson *person, NSString *name, NSString *emailAddress);
