#import <Kindex/KXVCard.h>

#import <Kindex/KXError.h>
#import <Kindex/KXMultiValue.h>
#import <Kindex/KXProperties.h>
#import "KXMakeError.h"
#import "KXPrivate.h"
#import "records/UniqueId.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include "vcard/CardMapping.h"
#include "vcard/VcardReader.h"
#include "vcard/VcardWriter.h"

namespace {

NSString *ns(const std::string &text) {
  NSString *s = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
  return [s autorelease];
}

std::string str(NSString *text) {
  const char *bytes = [text UTF8String];
  return bytes ? std::string(bytes) : std::string();
}

NSArray *stringArray(const std::vector<std::string> &items) {
  NSMutableArray *out = [NSMutableArray arrayWithCapacity:items.size()];
  for (const std::string &item : items) {
    NSString *text = ns(item);
    if (text != nil) [out addObject:text];
  }
  return out;
}

}  // namespace

@interface KXVCardProblem (Private)
- (id)_initWithLine:(NSUInteger)line message:(NSString *)message;
@end

@implementation KXVCardProblem

- (id)_initWithLine:(NSUInteger)line message:(NSString *)message {
  if ((self = [super init]) != nil) {
    _line = line;
    _message = [message copy];
  }
  return self;
}

- (void)dealloc {
  [_message release];
  [super dealloc];
}

- (NSUInteger)line {
  return _line;
}

- (NSString *)message {
  return _message;
}

- (NSString *)description {
  return [NSString stringWithFormat:@"line %lu: %@", (unsigned long)_line, _message];
}

@end

@implementation KXVCard

static NSArray *problemArray(const std::vector<vcard::ReadError> &errors) {
  NSMutableArray *out = [NSMutableArray arrayWithCapacity:errors.size()];
  for (const vcard::ReadError &error : errors) {
    // The reader escapes the file's text in its messages, so they are UTF-8.
    KXVCardProblem *problem = [[KXVCardProblem alloc] _initWithLine:static_cast<NSUInteger>(error.line)
                                                            message:ns(error.message)];
    [out addObject:problem];
    [problem release];
  }
  return out;
}

+ (NSArray *)cardsFromData:(NSData *)data problems:(NSArray **)problems warnings:(NSArray **)warnings {
  std::string_view bytes;
  if ([data isKindOfClass:[NSData class]] && [data length] > 0)
    bytes = std::string_view(static_cast<const char *>([data bytes]), [data length]);
  vcard::ReadResult read = vcard::readCards(bytes);
  NSMutableArray *cards = [NSMutableArray arrayWithCapacity:read.cards.size()];
  for (vcard::Card &card : read.cards) {
    KXVCard *object = [[KXVCard alloc] init];
    object->_card = new vcard::Card(std::move(card));
    [cards addObject:object];
    [object release];
  }
  if (problems != NULL) *problems = problemArray(read.errors);
  if (warnings != NULL) *warnings = problemArray(read.warnings);
  return cards;
}

- (void)dealloc {
  delete static_cast<vcard::Card *>(_card);
  [super dealloc];
}

- (const vcard::Card &)_card {
  return *static_cast<vcard::Card *>(_card);
}

- (NSString *)uniqueId {
  std::string uid;
  return kx::cardUid([self _card], &uid) ? ns(uid) : nil;
}

- (BOOL)isGroup {
  return kx::isGroupCard([self _card]);
}

- (NSArray *)memberIds {
  return stringArray(kx::cardMembers([self _card]));
}

- (NSArray *)categories {
  return stringArray(kx::cardCategories([self _card]));
}

- (NSUInteger)line {
  return static_cast<NSUInteger>([self _card].line);
}

- (BOOL)namesItsRecord {
  return kx::isGroupCard([self _card]) || kx::cardNamesSomeone([self _card]);
}

@end

namespace {

KXRecord *recordForUid(KXAddressBook *book, const std::string &uid) {
  for (const std::string &candidate : kx::uidCandidates(uid)) {
    NSString *key = ns(candidate);
    KXRecord *record = key != nil ? [book recordForUniqueId:key] : nil;
    if (record != nil) return record;
  }
  return nil;
}

// Finds records by uid while cards are applied. Every lookup in a book first looks for what
// other processes saved, a query of its store: for more than a few cards, the book's records
// are indexed once instead.
struct Finder {
  KXAddressBook *book;
  NSMutableDictionary *index;  // uid -> record; nil while the book is asked directly

  Finder(KXAddressBook *b, bool indexed) : book(b), index(nil) {
    if (!indexed) return;
    index = [[NSMutableDictionary alloc] init];
    for (NSArray *records : {[book people], [book groups]})
      for (NSUInteger i = 0; i < [records count]; ++i)
        [index setObject:[records objectAtIndex:i] forKey:[[records objectAtIndex:i] uniqueId]];
  }
  ~Finder() { [index release]; }
  Finder(const Finder &) = delete;
  Finder &operator=(const Finder &) = delete;

  KXRecord *find(const std::string &uid) {
    if (index == nil) return recordForUid(book, uid);
    for (const std::string &candidate : kx::uidCandidates(uid)) {
      NSString *key = ns(candidate);
      KXRecord *record = key != nil ? [index objectForKey:key] : nil;
      if (record != nil) return record;
    }
    return nil;
  }

  void added(KXRecord *record) {
    [index setObject:record forKey:[record uniqueId]];
    for (const std::string &candidate : kx::uidCandidates(str([record uniqueId]))) created.insert(candidate);
  }

  std::set<std::string> created;  // the uids of records made, as a MEMBER may write them
};

NSError *refusal(NSString *format, ...) {
  va_list args;
  va_start(args, format);
  NSString *text = [[[NSString alloc] initWithFormat:format arguments:args] autorelease];
  va_end(args);
  NSError *error = nil;
  KXMakeError(&error, KXErrorCardRefused, text);
  return error;
}

// A multi-value of the card's entries that keeps the identifiers of the entries of `old` that
// say the same, so that saves elsewhere merge entry by entry; the best PREF is primary.
KXMultiValue *multiValue(const std::vector<kx::CardEntry> &entries, id old) {
  KXMultiValue *before = [old isKindOfClass:kx::multiValueClass()] ? old : nil;
  NSUInteger oldPrimary = 0;
  const KXEntryList *oldEntries = before != nil ? &KXMultiValueEntries(before, &oldPrimary) : nullptr;
  std::vector<bool> taken(oldEntries != nullptr ? oldEntries->count : 0, false);
  KXEntryList *list = KXEntryList::make(entries.size());
  NSString *primary = nil;
  int best = 0;
  for (const kx::CardEntry &entry : entries) {
    kx::EntryItem item{nil, entry.label, entry.value, entry.attributes};
    NSString *identifier = nil;
    for (size_t j = 0; j < taken.size() && identifier == nil; ++j) {
      if (taken[j] || kx::entriesDiffer(item, (*oldEntries)[j])) continue;
      taken[j] = true;
      identifier = [(*oldEntries)[j].identifier retain];
    }
    if (identifier == nil) identifier = KXNewOwnedUniqueId();
    KXEntryList::insert(list, list->count,
                        {identifier, [entry.label copy], [entry.value retain], [entry.attributes retain]});
    if (entry.rank > 0 && (best == 0 || entry.rank < best)) best = entry.rank, primary = identifier;
  }
  return [[[kx::multiValueClass() alloc] _initAdoptingEntries:list primary:primary] autorelease];
}

// The card's value of property, or nil; `old` is the record's. The mapping names its
// properties by the same string objects that cardProperties gives, so they are told apart by
// address: a record has some thirty properties to look up, and comparing texts for each would
// cost more than the rest of it.
id cardValue(const kx::CardValues &values, NSString *property, id old) {
  for (const auto &entry : values.strings)
    if (entry.first == property) return entry.second;
  for (const auto &entry : values.lists)
    if (entry.first == property) return multiValue(entry.second, old);
  return nil;
}

// The record's values of the properties a card carries, by the index of the property in
// properties. A record read from a store or made from a card holds these very key objects (the
// decoder shares the library's texts), so texts are compared only for a key set otherwise.
std::vector<id> valuesByProperty(KXRecord *record, const std::vector<NSString *> &properties) {
  std::vector<id> out(properties.size(), nil);
  for (const KXValueList::Item &item : [record _values]) {
    size_t found = properties.size();
    for (size_t i = 0; i < properties.size() && found == properties.size(); ++i)
      if (item.key == properties[i]) found = i;
    for (size_t i = 0; i < properties.size() && found == properties.size(); ++i)
      if ([item.key isEqualToString:properties[i]]) found = i;
    if (found < properties.size() && out[found] == nil) out[found] = item.value;
  }
  return out;
}

// Gives the record the card's values: each property the card could carry gets the card's
// value or none; a value that is already there is not set again. Groups leave their other
// properties to the members' step (skipOthers).
bool setValues(KXRecord *record, const kx::CardValues &values, bool group, bool skipOthers) {
  const std::vector<NSString *> &properties = kx::cardProperties(group);
  if ([record _book] == nil) {
    // A new record: the values are the mapping's own, immutable and valid, and nobody is told.
    KXValueList *list = KXValueList::make(values.strings.size() + values.lists.size());
    for (NSString *property : properties) {
      if (skipOthers && property == KXOtherVCardPropertiesProperty) continue;
      id value = cardValue(values, property, [record valueForProperty:property]);
      // Each property comes once: appended, not looked for first.
      if (value != nil) KXValueList::insert(list, list->count, {[property retain], [value retain]});
    }
    [record _adoptValues:list];
    return true;
  }
  std::vector<id> current = valuesByProperty(record, properties);
  for (size_t i = 0; i < properties.size(); ++i) {
    NSString *property = properties[i];
    if (skipOthers && property == KXOtherVCardPropertiesProperty) continue;
    id old = current[i];
    id value = cardValue(values, property, old);
    if (kx::sameValue(old, value)) continue;
    if (![record setValue:value forProperty:property] && value != nil) return false;
    if (value == nil && old != nil && [record valueForProperty:property] != nil) return false;
  }
  return true;
}

// A group of the book by name, for categories.
struct Categories {
  KXAddressBook *book;
  std::map<std::string, std::vector<KXGroup *>> byName;
  bool loaded = false;

  void load() {
    if (loaded) return;
    loaded = true;
    NSArray *groups = [book groups];
    for (NSUInteger i = 0; i < [groups count]; ++i) {
      KXGroup *group = [groups objectAtIndex:i];
      NSString *name = [group valueForProperty:KXGroupNameProperty];
      if (name != nil) byName[str(name)].push_back(group);
    }
  }

  // A group the person is in already, else the first of that name, else a new category.
  KXGroup *groupFor(const std::string &name, KXPerson *person, bool personIsNew) {
    load();
    std::vector<KXGroup *> &found = byName[name];
    if (found.size() > 1 && !personIsNew) {
      NSArray *parents = [person parentGroups];
      for (KXGroup *group : found)
        if ([parents indexOfObjectIdenticalTo:group] != NSNotFound) return group;
    }
    if (!found.empty()) return found.front();
    KXGroup *group = [[[KXGroup alloc] init] autorelease];
    KXMutableMultiValue *marker = [[[KXMutableMultiValue alloc] init] autorelease];
    [marker addValue:[NSDictionary dictionary] withLabel:@"CATEGORIES"];
    [group setValue:ns(name) forProperty:KXGroupNameProperty];
    [group setValue:marker forProperty:KXVCardParametersProperty];
    if (![book addRecord:group]) return nil;
    found.push_back(group);
    return group;
  }
};

// A group card waiting for its members. The card's values die with the pool they were read
// in: what the members' step needs is kept here as text.
struct PendingGroup {
  KXGroup *group;
  std::vector<std::string> members, memberLines, others;
};

id applyCard(Finder &finder, const vcard::Card &card, Categories &categories,
             std::vector<PendingGroup> &pending) {
  KXAddressBook *book = finder.book;
  bool group = kx::isGroupCard(card);
  if (!group && !kx::cardNamesSomeone(card)) return refusal(@"card has neither N nor FN");
  kx::CardValues values = kx::valuesFromCard(card, group);
  std::string uid;
  bool hasUid = kx::cardUid(card, &uid);
  KXRecord *record = hasUid ? finder.find(uid) : nil;
  Class wantedClass = group ? [KXGroup class] : [KXPerson class];
  if (record != nil && ![record isKindOfClass:wantedClass]) {
    return refusal(group ? @"the card is a group's, but %@ is a person of the book"
                         : @"the card is a person's, but %@ is a group of the book",
                   [record uniqueId]);
  }
  bool isNew = record == nil;
  if (isNew) {
    record = hasUid ? [[wantedClass alloc] initWithUniqueId:ns(uid)] : [[wantedClass alloc] init];
    [record autorelease];
    if (record == nil) return refusal(@"the card's UID is not UTF-8 text");
    setValues(record, values, group, group);
    if (![book addRecord:record]) return refusal(@"the book refused the card");
    finder.added(record);
  } else if (!setValues(record, values, group, group)) {
    return refusal(@"the book refused the change to %@", [record uniqueId]);
  }
  if (group) {
    PendingGroup waiting{(KXGroup *)record, values.members, values.memberLines, {}};
    for (const auto &entry : values.lists)
      if ([entry.first isEqualToString:KXOtherVCardPropertiesProperty])
        for (const kx::CardEntry &other : entry.second) waiting.others.push_back(str(other.value));
    pending.push_back(waiting);
    return record;
  }
  for (const std::string &name : values.categories) {
    KXGroup *category = categories.groupFor(name, (KXPerson *)record, isNew);
    if (category == nil) return refusal(@"the book refused the new group %@", ns(name));
    [category addMember:record];  // NO, and nothing done, when it is a member already
  }
  return record;
}

// A group card's members, once every card is in the book; MEMBERs that name no record stay
// among the group's other properties.
void applyMembers(Finder &finder, PendingGroup &pending) {
  KXGroup *group = pending.group;
  NSMutableArray *wanted = [NSMutableArray array];
  std::vector<kx::CardEntry> unknown;
  for (size_t i = 0; i < pending.members.size(); ++i) {
    KXRecord *member = finder.find(pending.members[i]);
    if (member == nil) {
      unknown.push_back({ns(pending.memberLines[i]), nil, nil, 0});
    } else if (member != group && [wanted indexOfObjectIdenticalTo:member] == NSNotFound) {
      [wanted addObject:member];
    }
  }
  NSArray *current = [group members];
  if (![current isEqualToArray:wanted]) {
    for (NSUInteger i = 0; i < [current count]; ++i)
      if ([wanted indexOfObjectIdenticalTo:[current objectAtIndex:i]] == NSNotFound)
        [group removeMember:[current objectAtIndex:i]];
    for (NSUInteger i = 0; i < [wanted count]; ++i)
      if ([current indexOfObjectIdenticalTo:[wanted objectAtIndex:i]] == NSNotFound)
        [group addMember:[wanted objectAtIndex:i]];
  }
  std::vector<kx::CardEntry> others;
  for (const std::string &line : pending.others) others.push_back({ns(line), nil, nil, 0});
  others.insert(others.end(), unknown.begin(), unknown.end());
  id old = [group valueForProperty:KXOtherVCardPropertiesProperty];
  id value = others.empty() ? nil : multiValue(others, old);
  if (!kx::sameValue(old, value)) [group setValue:value forProperty:KXOtherVCardPropertiesProperty];
}

// Groups applied earlier may keep MEMBERs that named no record then: those that name a record
// made now become members (a CardDAV client may send a group before its members).
void adoptWaitingMembers(Finder &finder) {
  NSArray *groups = [finder.book groups];
  for (NSUInteger g = 0; g < [groups count]; ++g) {
    KXGroup *group = [groups objectAtIndex:g];
    KXMultiValue *others = [group valueForProperty:KXOtherVCardPropertiesProperty];
    KXMutableMultiValue *kept = nil;
    for (NSUInteger i = [others count]; i-- > 0;) {
      std::string line = str([others valueAtIndex:i]);
      if (line.find("MEMBER") == std::string::npos) continue;
      vcard::Property p;
      std::string error;
      if (!vcard::parseProperty(line, p, error) || p.standardName() != "MEMBER") continue;
      if (finder.created.count(p.text()) == 0) continue;
      KXRecord *member = finder.find(p.text());
      if (member == nil || member == group) continue;
      [group addMember:member];
      if (kept == nil) kept = [[others mutableCopy] autorelease];
      [kept removeValueAndLabelAtIndex:i];
    }
    if (kept != nil)
      [group setValue:([kept count] > 0 ? kept : nil) forProperty:KXOtherVCardPropertiesProperty];
  }
}

}  // namespace

@implementation KXAddressBook (KXVCard)

- (KXRecord *)recordForVCard:(KXVCard *)card {
  std::string uid;
  return kx::cardUid([card _card], &uid) ? recordForUid(self, uid) : nil;
}

- (NSArray *)applyVCards:(NSArray *)cards {
  NSUInteger count = [cards count];
  std::vector<id> results(count, nil);
  Finder finder(self, count > 16);
  Categories categories{self, {}, false};
  std::vector<PendingGroup> pending;
  for (int pass = 0; pass < 2; ++pass) {
    for (NSUInteger i = 0; i < count; ++i) {
      KXVCard *card = [cards objectAtIndex:i];
      if ([card isGroup] != (pass == 0)) continue;
      NSAutoreleasePool *pool = [NSAutoreleasePool new];
      results[i] = [applyCard(finder, [card _card], categories, pending) retain];
      [pool release];
    }
  }
  for (PendingGroup &group : pending) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    applyMembers(finder, group);
    [pool release];
  }
  if (!finder.created.empty()) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    adoptWaitingMembers(finder);
    [pool release];
  }
  NSMutableArray *out = [NSMutableArray arrayWithCapacity:count];
  for (id result : results) {
    [out addObject:result];
    [result release];
  }
  return out;
}

- (NSData *)vCardDataWithVersion:(KXVCardVersion)version {
  NSMutableData *out = [NSMutableData data];
  NSArray *groups = [self groups];
  // Each person's categories from one walk of the groups: asking each person for its groups
  // would walk them once per person.
  NSDictionary *categories = kx::categoriesByMember(groups);
  vcard::Version written = version == KXVCardVersion40 ? vcard::Version::v4 : vcard::Version::v3;
  for (NSArray *records : {[self people], groups}) {
    for (NSUInteger i = 0; i < [records count]; ++i) {
      NSAutoreleasePool *pool = [NSAutoreleasePool new];
      KXRecord *record = [records objectAtIndex:i];
      if (!kx::isCategoryGroup(record)) {
        std::string text = vcard::writeCard(kx::cardFromRecord(record, categories), written);
        [out appendBytes:text.data() length:text.size()];
      }
      [pool release];
    }
  }
  return out;
}

@end

@implementation KXRecord (KXVCard)

- (NSData *)vCardDataWithVersion:(KXVCardVersion)version {
  std::string text = vcard::writeCard(kx::cardFromRecord(self),
                                      version == KXVCardVersion40 ? vcard::Version::v4 : vcard::Version::v3);
  return [NSData dataWithBytes:text.data() length:text.size()];
}

@end
