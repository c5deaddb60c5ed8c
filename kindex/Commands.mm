#import "Commands.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "RecordText.h"
#include "TextBridge.h"

namespace kindex {

namespace {

std::string lowered(const std::string &text) {
  NSString *s = nsString(text);
  return s ? utf8([s lowercaseString]) : text;
}

// Persons sorted by name (letter case aside), then by ID, so that every listing of one book
// comes out in the same order, local or remote.
std::vector<KXPerson *> sortedPeople(KXAddressBook *book) {
  NSArray *people = [book people];
  std::vector<std::pair<std::pair<std::string, std::string>, KXPerson *>> keyed;
  for (NSUInteger i = 0; i < [people count]; ++i) {
    KXPerson *person = [people objectAtIndex:i];
    keyed.push_back({{lowered(displayName(person)), utf8([person uniqueId])}, person});
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<KXPerson *> out;
  for (const auto &entry : keyed) out.push_back(entry.second);
  return out;
}

}  // namespace

int listPeople(KXAddressBook *book, const Emit &emit) {
  for (KXPerson *person : sortedPeople(book)) emit(personLine(person));
  return kExitOK;
}

int searchPeople(KXAddressBook *book, const std::string &text, const Emit &emit, const Complain &complain) {
  NSString *search = nsString(text);
  if (search == nil) {
    complain("the search text is not valid UTF-8");
    return kExitUsage;
  }
  for (KXPerson *person : sortedPeople(book))
    if (personMatches(person, search)) emit(personLine(person));
  return kExitOK;
}

int listGroups(KXAddressBook *book, const Emit &emit) {
  NSArray *groups = [book groups];
  for (NSUInteger i = 0; i < [groups count]; ++i) emit(groupLine([groups objectAtIndex:i]));
  return kExitOK;
}

int showRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain) {
  NSString *key = nsString(uid);
  KXRecord *record = key ? [book recordForUniqueId:key] : nil;
  if (record == nil) {
    complain("no person or group has the ID " + uid);
    return kExitFailure;
  }
  if ([record isKindOfClass:[KXGroup class]]) {
    emit(groupDetails((KXGroup *)record));
  } else {
    emit(personDetails((KXPerson *)record, book));
  }
  return kExitOK;
}

int exportCards(KXAddressBook *book, bool vcard4, const Emit &emit) {
  NSData *cards = [book vCardDataWithVersion:vcard4 ? KXVCardVersion40 : KXVCardVersion30];
  emit(std::string(static_cast<const char *>([cards bytes]), [cards length]));
  return kExitOK;
}

ImportFile::~ImportFile() {
  [cards release];
}

namespace {

std::string plural(size_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void reportSkipped(const ImportFile &file, const Complain &complain) {
  std::vector<std::pair<int, std::string>> skipped = file.skipped;
  std::stable_sort(skipped.begin(), skipped.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  for (const auto &entry : skipped)
    complain(file.source + ":" + std::to_string(entry.first) + ": skipped a card: " + entry.second);
}

}  // namespace

bool readImportFile(const std::string &source, std::string &content, ImportFile &file, const Emit &emit,
                    const Complain &complain, int &status) {
  file.source = source;
  NSArray *problems = nil, *warnings = nil;
  NSData *data = [NSData dataWithBytesNoCopy:const_cast<char *>(content.data())
                                      length:content.size()
                                freeWhenDone:NO];
  NSArray *cards = [KXVCard cardsFromData:data problems:&problems warnings:&warnings];
  std::string().swap(content);
  for (NSUInteger i = 0; i < [warnings count]; ++i) {
    KXVCardProblem *warning = [warnings objectAtIndex:i];
    complain(source + ":" + std::to_string([warning line]) + ": " + utf8([warning message]));
  }
  for (NSUInteger i = 0; i < [problems count]; ++i) {
    KXVCardProblem *problem = [problems objectAtIndex:i];
    file.skipped.push_back({static_cast<int>([problem line]), utf8([problem message])});
  }
  NSMutableArray *usable = [NSMutableArray array];
  for (NSUInteger i = 0; i < [cards count]; ++i) {
    KXVCard *card = [cards objectAtIndex:i];
    if ([card namesItsRecord]) {
      [usable addObject:card];
    } else {
      file.skipped.push_back({static_cast<int>([card line]), "card has neither N nor FN"});
    }
  }
  file.cards = [usable retain];
  if ([usable count] > 0) return true;
  // Nothing to import: no book is opened, so none is made.
  reportSkipped(file, complain);
  emit("Imported 0 persons and 0 new groups from " + source + "\n");
  status = file.skipped.empty() ? kExitOK : kExitCardsSkipped;
  return false;
}

int importCards(KXAddressBook *book, ImportFile &file, const Emit &emit, const Complain &complain) {
  NSArray *cards = file.cards;
  size_t withoutUid = 0;
  for (NSUInteger i = 0; i < [cards count]; ++i)
    if ([[cards objectAtIndex:i] uniqueId] == nil) ++withoutUid;
  // What the book held before, to tell the records the cards updated from those they made.
  NSMutableSet *before = [NSMutableSet set];
  NSArray *people = [book people], *groups = [book groups];
  for (NSArray *records : {people, groups})
    for (NSUInteger i = 0; i < [records count]; ++i) [before addObject:[[records objectAtIndex:i] uniqueId]];
  size_t groupsBefore = [groups count];
  NSArray *results = [book applyVCards:cards];
  size_t added = 0, updatedPeople = 0, updatedGroups = 0;
  for (NSUInteger i = 0; i < [results count]; ++i) {
    id result = [results objectAtIndex:i];
    KXVCard *card = [cards objectAtIndex:i];
    if ([result isKindOfClass:[NSError class]]) {
      file.skipped.push_back({static_cast<int>([card line]), utf8([result localizedDescription])});
    } else if ([before containsObject:[result uniqueId]]) {
      ++([card isGroup] ? updatedGroups : updatedPeople);
    } else if (![card isGroup]) {
      ++added;
    }
  }
  reportSkipped(file, complain);
  if (withoutUid > 0)
    complain(file.source + ": " + plural(withoutUid, "card has", "cards have") +
             " no UID and got a new one; importing " + (withoutUid == 1 ? "it" : "them") + " again adds " +
             (withoutUid == 1 ? "it" : "them") + " again");
  NSError *failure = nil;
  if ([book hasUnsavedChanges] && ![book saveAndReturnError:&failure]) {
    complain("could not save the book (" + utf8([failure localizedDescription]) + "); nothing was imported");
    return kExitFailure;
  }
  size_t newGroups = [[book groups] count] - groupsBefore;
  std::string line = "Imported " + plural(added, "person", "persons") + " and " +
                     plural(newGroups, "new group", "new groups");
  if (updatedPeople + updatedGroups > 0)
    line += ", and updated " + plural(updatedPeople, "person", "persons") + " and " +
            plural(updatedGroups, "group", "groups") + " by UID";
  emit(line + " from " + file.source + "\n");
  return file.skipped.empty() ? kExitOK : kExitCardsSkipped;
}

int deleteRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain) {
  NSString *key = nsString(uid);
  KXRecord *record = key ? [book recordForUniqueId:key] : nil;
  if (record == nil) {
    complain("no person or group has the ID " + uid);
    return kExitFailure;
  }
  NSError *failure = nil;
  if (![book removeRecord:record] || ![book saveAndReturnError:&failure]) {
    complain("could not delete " + uid + (failure ? " (" + utf8([failure localizedDescription]) + ")" : ""));
    return kExitFailure;
  }
  emit("Deleted " + uid + "\n");
  return kExitOK;
}

namespace {

bool readFile(const std::string &path, std::string &content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  content = buffer.str();
  return !in.bad();
}

// Runs the user's editor on path, through the shell so that EDITOR may hold options.
bool runEditor(const std::string &path, std::string &error) {
  const char *editor = std::getenv("EDITOR");
  if (editor == nullptr || *editor == '\0') editor = std::getenv("VISUAL");
  if (editor == nullptr || *editor == '\0') editor = "vi";
  std::string command = std::string(editor) + " \"$1\"";
  pid_t child = fork();
  if (child < 0) {
    error = std::string("cannot start the editor: ") + std::strerror(errno);
    return false;
  }
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), "sh", path.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = std::string("the editor ") + editor + " failed";
  return false;
}

}  // namespace

int editRecord(KXAddressBook *book, const std::string &uid, const Emit &emit, const Complain &complain) {
  NSString *key = nsString(uid);
  KXRecord *record = key ? [book recordForUniqueId:key] : nil;
  if (record == nil) {
    complain("no person or group has the ID " + uid);
    return kExitFailure;
  }
  NSData *data = [record vCardDataWithVersion:KXVCardVersion30];
  std::string before(static_cast<const char *>([data bytes]), [data length]);
  const char *tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kindex-edit-XXXXXX.vcf";
  int fd = mkstemps(&path[0], 4);
  if (fd < 0 || write(fd, before.data(), before.size()) != static_cast<ssize_t>(before.size())) {
    complain("cannot write " + path + ": " + std::strerror(errno));
    if (fd >= 0) close(fd), unlink(path.c_str());
    return kExitFailure;
  }
  close(fd);
  std::string error, after;
  if (!runEditor(path, error) || !readFile(path, after)) {
    complain((error.empty() ? "cannot read " + path : error) + "; nothing changed, the card is in " + path);
    return kExitFailure;
  }
  if (after == before) {
    unlink(path.c_str());
    emit("Nothing changed\n");
    return kExitOK;
  }
  // Whatever is refused from here on, the user's text stays where it is.
  NSArray *problems = nil;
  NSArray *cards = [KXVCard cardsFromData:[NSData dataWithBytes:after.data() length:after.size()]
                                 problems:&problems
                                 warnings:NULL];
  std::string refusal;
  if ([problems count] > 0) {
    KXVCardProblem *problem = [problems objectAtIndex:0];
    refusal = "line " + std::to_string([problem line]) + ": " + utf8([problem message]);
  } else if ([cards count] != 1) {
    refusal = "the file holds " + std::to_string([cards count]) + " cards, not one";
  } else if (![[[book recordForVCard:[cards objectAtIndex:0]] uniqueId] isEqual:[record uniqueId]]) {
    refusal = "the card's UID must stay " + uid;
  } else {
    id result = [[book applyVCards:cards] objectAtIndex:0];
    if ([result isKindOfClass:[NSError class]]) refusal = utf8([result localizedDescription]);
  }
  if (!refusal.empty()) {
    complain("the card was not stored: " + refusal + "; your text is in " + path);
    return kExitFailure;
  }
  NSError *failure = nil;
  if ([book hasUnsavedChanges] && ![book saveAndReturnError:&failure]) {
    complain("could not save the book (" + utf8([failure localizedDescription]) + "); your text is in " +
             path);
    return kExitFailure;
  }
  unlink(path.c_str());
  emit("Stored " + uid + "\n");
  return kExitOK;
}

}  // namespace kindex
