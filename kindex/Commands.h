// The commands of kindex, each working on an open book and writing to standard output.
// Each gives an exit status from KindexOptions.h and writes its errors as one line each
// through `complain`.
#pragma once

#import <Kindex/Kindex.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "KindexOptions.h"

namespace kindex {

using Complain = std::function<void(const std::string &)>;
using Emit = std::function<void(const std::string &)>;

int listPeople(KXAddressBook *book, const Emit &emit);
int searchPeople(KXAddressBook *book, const std::string &text, const Emit &emit, const Complain &complain);
int listGroups(KXAddressBook *book, const Emit &emit);
int showRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain);
int exportCards(KXAddressBook *book, bool vcard4, const Emit &emit);

// A vCard file read for import before any book is opened, so that a file of which nothing can
// be imported opens (and so creates) no book.
struct ImportFile {
  ImportFile() = default;
  ImportFile(const ImportFile &) = delete;
  ImportFile &operator=(const ImportFile &) = delete;
  ~ImportFile();

  std::string source;                                // names the file in messages
  NSArray *cards = nil;                              // the cards to apply (KXVCard, retained)
  std::vector<std::pair<int, std::string>> skipped;  // line, why: what the reader refused
};

// Reads `content` (and empties it: the cards are what is kept) and reports its warnings; false,
// with the exit status, when no card in it can be imported (the skipped ones are reported then
// too).
bool readImportFile(const std::string &source, std::string &content, ImportFile &file, const Emit &emit,
                    const Complain &complain, int &status);
int importCards(KXAddressBook *book, ImportFile &file, const Emit &emit, const Complain &complain);

int deleteRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain);
// Opens the record as a vCard in $EDITOR (else $VISUAL, else vi) and stores what was saved.
int editRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain);

}  // namespace kindex
