// The commands of kindex, each working on an open book and writing to standard output.
// Each gives an exit status from KindexOptions.h and writes its errors as one line each
// through `complain`.
#pragma once

#import <Kindex/Kindex.h>

#include <functional>
#include <string>

#include "KindexOptions.h"

namespace kindex {

using Complain = std::function<void(const std::string &)>;
using Emit = std::function<void(const std::string &)>;

int listPeople(KXAddressBook *book, const Emit &emit);
int searchPeople(KXAddressBook *book, const std::string &text, const Emit &emit,
                 const Complain &complain);
int listGroups(KXAddressBook *book, const Emit &emit);
int showRecord(KXAddressBook *book, const std::string &uid, const Emit &emit,
               const Complain &complain);
int exportCards(KXAddressBook *book, const Emit &emit);
// `source` names the file in messages; `content` is what it holds.
int importCards(KXAddressBook *book, const std::string &source, const std::string &content,
                const Emit &emit, const Complain &complain);

}  // namespace kindex
