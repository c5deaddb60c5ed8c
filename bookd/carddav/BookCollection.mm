#import "BookCollection.h"

#import <Kindex/Kindex.h>

#include <algorithm>
#include <set>
#include <unordered_set>

#include "CardName.h"
#include "RenderCache.h"
#include "VCardText.h"

namespace carddav {

namespace {

// Enough for every card of a 100,000-card book in one version; bookd stays well under its
// memory bound with it full.
const size_t kRenderCacheBytes = 64u << 20;

// Renders per autorelease pool when many cards are written in a row.
const int kRendersPerPool = 256;

std::string utf8Of(NSString *string) {
  const char *bytes = [string UTF8String];
  return bytes != nullptr ? std::string(bytes) : std::string();
}

NSString *nsStringOf(const std::string &text) {
  return [[[NSString alloc] initWithBytes:text.data() length:text.size()
                                 encoding:NSUTF8StringEncoding] autorelease];
}

PutResult failure(PutResult::Outcome outcome, const std::string &message = "") {
  PutResult result;
  result.outcome = outcome;
  result.message = message;
  return result;
}

// Whether the card at version holds the condition (present is whether there is a card).
bool holds(const Condition &condition, bool present, uint64_t version) {
  switch (condition.kind) {
    case Condition::kNone:
      return true;
    case Condition::kAbsent:
      return !present;
    case Condition::kPresent:
      return present;
    case Condition::kVersionIn:
      return present && std::find(condition.versions.begin(), condition.versions.end(), version) !=
                            condition.versions.end();
  }
  return false;
}

// The condition as the versions a save requires of the record uid; nil for none.
NSDictionary *required(const Condition &condition, NSString *uid) {
  NSMutableArray *versions = [NSMutableArray array];
  switch (condition.kind) {
    case Condition::kNone:
      return nil;
    case Condition::kAbsent:
      [versions addObject:[NSNumber numberWithUnsignedLongLong:KXRecordAbsent]];
      break;
    case Condition::kPresent:
      [versions addObject:[NSNumber numberWithUnsignedLongLong:KXRecordAtAnyVersion]];
      break;
    case Condition::kVersionIn:
      for (uint64_t version : condition.versions)
        [versions addObject:[NSNumber numberWithUnsignedLongLong:version]];
      break;
  }
  return [NSDictionary dictionaryWithObject:versions forKey:uid];
}

// The card with a UID line after BEGIN:VCARD, for a card sent without one to a name that
// has a record: it updates that record.
std::string withUid(const std::string &text, const std::string &uid) {
  size_t eol = text.find('\n');
  if (eol == std::string::npos) return text;
  return text.substr(0, eol + 1) + "UID:" + uid + "\r\n" + text.substr(eol + 1);
}

// One card read from text, or nil with *problem saying why.
KXVCard *oneCard(const std::string &text, std::string *problem) {
  NSData *data = [NSData dataWithBytes:text.data() length:text.size()];
  NSArray *problems = nil;
  NSArray *cards = [KXVCard cardsFromData:data problems:&problems warnings:NULL];
  if ([problems count] > 0) {
    *problem = utf8Of([[problems objectAtIndex:0] message]);
    return nil;
  }
  if ([cards count] != 1) {
    *problem = "the body must hold exactly one vCard";
    return nil;
  }
  return [cards objectAtIndex:0];
}

PutResult::Outcome outcomeOf(NSError *error, const Condition &condition) {
  switch ([error code]) {
    case KXErrorNotAtVersion:
      return PutResult::kPreconditionFailed;
    case KXErrorNameTaken:
      // Another client stored a card of this name in between: a retry updates that card.
      return condition.kind == Condition::kAbsent ? PutResult::kPreconditionFailed : PutResult::kBusy;
    case KXErrorBusy:
      return PutResult::kBusy;
    case KXErrorDiskFull:
      return PutResult::kFull;
    default:
      return PutResult::kFailed;
  }
}

// A card of the book as the collection knows it between two catch-ups.
struct Card {
  std::string uid;
  CardInfo info;
};

class BookCollection : public CardCollection {
 public:
  explicit BookCollection(KXLocalAddressBook *book)
      : book_([book retain]),
        reader_([[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:YES]),
        cache_(kRenderCacheBytes) {}
  ~BookCollection() override {
    [reader_ release];
    [book_ release];
  }

  void catchUp() override { [book_ catchUpWithSaves]; }

  std::string syncToken() override { return utf8Of([book_ syncToken]); }

  void list(const std::function<void(const CardInfo &)> &each) override {
    struct Walk {
      BookCollection *self;
      const std::function<void(const CardInfo &)> *each;
      CardInfo info;
    } walk{this, &each, CardInfo()};
    [book_ enumerateSavedRecordsWithFunction:[](const KXSavedRecordInfo *saved, void *context) {
      Walk *walk = static_cast<Walk *>(context);
      walk->self->fill(*saved, &walk->info);
      (*walk->each)(walk->info);
    }
                                     context:&walk];
  }

  bool find(const std::string &name, CardInfo *info) override {
    Card card;
    if (!findCard(name, &card)) return false;
    *info = card.info;
    return true;
  }

  void read(
      const std::vector<std::string> &names, int vcardVersion,
      const std::function<void(const std::string &, const CardInfo *, const std::string *)> &each) override {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    int renders = 0;
    Card card;
    const uint64_t saves = [book_ saveCount];
    for (const std::string &name : names) {
      // A card the cache found current since the book last saved is current still.
      RenderCache::Item *item = cache_.find(name);
      if (item != nullptr && item->checkedAt == saves && !item->text(vcardVersion).empty()) {
        each(name, &item->info, &item->text(vcardVersion));
        continue;
      }
      const uint64_t at = [book_ saveCount];
      const std::string *text = findCard(name, &card) ? render(card, at, vcardVersion, &renders) : nullptr;
      if (text != nullptr) {
        each(name, &card.info, text);
      } else {
        each(name, nullptr, nullptr);
      }
      if (renders >= kRendersPerPool) {
        [pool release];
        pool = [NSAutoreleasePool new];
        renders = 0;
      }
    }
    [pool release];
  }

  void readAll(int vcardVersion,
               const std::function<bool(const CardInfo &, const std::string &)> &each) override {
    // Rendering may catch the book up, which ends the life of what an enumeration hands out:
    // the cards are listed first.
    std::vector<Card> cards;
    const uint64_t at = [book_ saveCount];
    collect(&cards);
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    int renders = 0;
    for (const Card &card : cards) {
      const std::string *text = render(card, at, vcardVersion, &renders);
      if (text != nullptr && !each(card.info, *text)) break;
      if (renders >= kRendersPerPool) {
        [pool release];
        pool = [NSAutoreleasePool new];
        renders = 0;
      }
    }
    [pool release];
  }

  bool changesSince(const std::string &token, const std::function<void(const CardInfo &)> &changed,
                    const std::function<void(const std::string &)> &removed, std::string *newToken) override;
  PutResult put(const std::string &name, const std::string &cardText, const Condition &condition) override;
  PutResult store(const std::string &name, const std::string &cardText, const Condition &condition);
  RemoveResult remove(const std::string &name, const Condition &condition) override;

 private:
  void fill(const KXSavedRecordInfo &saved, CardInfo *info);
  void nameOf(std::string_view uid, const char *resourceName, size_t length, std::string *name);
  bool findCard(const std::string &name, Card *card);
  bool cardOf(const std::string &uid, Card *card);
  void collect(std::vector<Card> *cards);
  // The text of card, found current when the book was at save count `at`, in vcardVersion:
  // the cache's, or written now (renders counts those).
  const std::string *render(const Card &card, uint64_t at, int vcardVersion, int *renders);

  KXLocalAddressBook *book_;
  KXPublicAddressBook *reader_;  // read-only: shows what is saved
  RenderCache cache_;
  std::string uncached_;  // the last text rendered that the cache did not keep
};

// A record no client named is named after its uid; when that name is too long, or a client
// gave it to another card, after its uid's hash. Into *name, whose room is used again: this is
// done for every card of a listing.
void BookCollection::nameOf(std::string_view uid, const char *resourceName, size_t length,
                            std::string *name) {
  if (resourceName != nullptr) {
    name->assign(resourceName, length);
    return;
  }
  nameOfUid(uid, name);
  KXSavedRecordInfo holder;
  if (name->size() > kMaxNameLength || ([book_ getSavedRecordInfo:&holder
                                             forResourceNameBytes:name->data()
                                                           length:name->size()] &&
                                        std::string_view(holder.uniqueId, holder.uniqueIdLength) != uid))
    *name = hashedName(uid);
}

void BookCollection::fill(const KXSavedRecordInfo &saved, CardInfo *info) {
  nameOf(std::string_view(saved.uniqueId, saved.uniqueIdLength), saved.resourceName, saved.resourceNameLength,
         &info->name);
  info->version = saved.version;
  info->modified = saved.modified;
}

bool BookCollection::cardOf(const std::string &uid, Card *card) {
  KXSavedRecordInfo saved;
  if (![book_ getSavedRecordInfo:&saved forUniqueIdBytes:uid.data() length:uid.size()]) return false;
  card->uid = uid;
  fill(saved, &card->info);
  return true;
}

void BookCollection::collect(std::vector<Card> *cards) {
  struct Walk {
    BookCollection *self;
    std::vector<Card> *cards;
  } walk{this, cards};
  [book_ enumerateSavedRecordsWithFunction:[](const KXSavedRecordInfo *saved, void *context) {
    Walk *walk = static_cast<Walk *>(context);
    walk->cards->emplace_back();
    Card &card = walk->cards->back();
    card.uid.assign(saved->uniqueId, saved->uniqueIdLength);
    walk->self->fill(*saved, &card.info);
  }
                                   context:&walk];
}

bool BookCollection::findCard(const std::string &name, Card *card) {
  KXSavedRecordInfo named;
  if ([book_ getSavedRecordInfo:&named forResourceNameBytes:name.data() length:name.size()]) {
    card->uid.assign(named.uniqueId, named.uniqueIdLength);
    fill(named, &card->info);
    return true;
  }
  // No client named a card so: the name of a record no client named, if any. Its uid's name
  // is this very name, which no client took (else the lookup above had found it).
  KXSavedRecordInfo saved;
  if (uidOfName(name, &card->uid) &&
      [book_ getSavedRecordInfo:&saved forUniqueIdBytes:card->uid.data() length:card->uid.size()] &&
      saved.resourceName == nullptr) {
    card->info.name = name;
    card->info.version = saved.version;
    card->info.modified = saved.modified;
    return true;
  }
  if (!looksHashed(name)) return false;
  // Rare (uids of hundreds of bytes, or a name a client took first): a walk of the book.
  std::vector<Card> cards;
  collect(&cards);
  for (Card &each : cards) {
    if (each.info.name == name) {
      *card = std::move(each);
      return true;
    }
  }
  return false;
}

const std::string *BookCollection::render(const Card &card, uint64_t at, int vcardVersion, int *renders) {
  RenderCache::Item *item = cache_.find(card.info.name);
  if (item != nullptr && item->uid == card.uid && item->info.version == card.info.version) {
    item->checkedAt = at;
    if (!item->text(vcardVersion).empty()) return &item->text(vcardVersion);
  }
  KXRecord *record = [reader_ recordForUniqueId:nsStringOf(card.uid)];
  NSData *data = [record vCardDataWithVersion:vcardVersion == 4 ? KXVCardVersion40 : KXVCardVersion30];
  ++*renders;
  if (data == nil) return nullptr;
  std::string text(static_cast<const char *>([data bytes]), [data length]);
  // Reading the record may have caught up with a newer save of it: that text is not the
  // version asked for, and is kept for nobody.
  Card now;
  if (cardOf(card.uid, &now) && now.info.version == card.info.version) {
    if (const std::string *kept = cache_.put(card.uid, card.info, at, vcardVersion, text)) return kept;
  }
  uncached_ = std::move(text);
  return &uncached_;
}

bool BookCollection::changesSince(const std::string &token,
                                  const std::function<void(const CardInfo &)> &changed,
                                  const std::function<void(const std::string &)> &removed,
                                  std::string *newToken) {
  uint64_t since = 0;
  if (token.size() > 200 || ![book_ getSaveCount:&since forSyncToken:nsStringOf(token)]) return false;
  struct Changes {
    BookCollection *self;
    std::vector<std::string> gone;
    std::vector<std::string> unnamed;  // uids of removed records no client had named
    std::vector<CardInfo> written;
  } changes{this, {}, {}, {}};
  BOOL ok = [book_ enumerateChangesSinceSaveCount:since
      written:[](const KXSavedRecordInfo *saved, void *context) {
        Changes *changes = static_cast<Changes *>(context);
        changes->written.emplace_back();
        changes->self->fill(*saved, &changes->written.back());
      }
      removed:[](const char *uid, size_t length, const char *name, size_t nameLength, void *context) {
        Changes *changes = static_cast<Changes *>(context);
        if (name != nullptr) {
          changes->gone.emplace_back(name, nameLength);
        } else {
          changes->unnamed.emplace_back(uid, length);
        }
      }
      context:&changes
      error:NULL];
  if (!ok) return false;
  // A record no client named went by its uid's name, or by its hash where that was too long
  // or a client's card holds it (see nameOf).
  for (const std::string &uid : changes.unnamed) {
    std::string name = nameOfUid(uid);
    KXSavedRecordInfo holder;
    if (name.size() > kMaxNameLength || [book_ getSavedRecordInfo:&holder
                                             forResourceNameBytes:name.data()
                                                           length:name.size()]) {
      changes.gone.push_back(hashedName(uid));
    }
    if (name.size() <= kMaxNameLength) changes.gone.push_back(std::move(name));
  }
  // A name whose card went and that a card holds again is that card's change, not a removal.
  std::unordered_set<std::string> names;
  for (const CardInfo &info : changes.written) names.insert(info.name);
  std::sort(changes.gone.begin(), changes.gone.end());
  changes.gone.erase(std::unique(changes.gone.begin(), changes.gone.end()), changes.gone.end());
  CardInfo ignored;
  for (const std::string &name : changes.gone) {
    if (names.count(name) == 0 && !find(name, &ignored)) removed(name);
  }
  for (const CardInfo &info : changes.written) changed(info);
  *newToken = syncToken();
  return true;
}

PutResult BookCollection::put(const std::string &name, const std::string &cardText,
                              const Condition &condition) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  PutResult result = store(name, cardText, condition);
  [pool release];
  return result;
}

PutResult BookCollection::store(const std::string &name, const std::string &cardText,
                                const Condition &condition) {
  Card existing;
  const bool exists = findCard(name, &existing);
  if (!holds(condition, exists, existing.info.version)) return failure(PutResult::kPreconditionFailed);
  std::string problem;
  KXVCard *card = oneCard(cardText, &problem);
  if (card == nil) return failure(PutResult::kRefused, problem);
  if (exists && [card uniqueId] == nil) card = oneCard(withUid(cardText, existing.uid), &problem);
  if (card == nil) return failure(PutResult::kRefused, problem);

  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  if ([card uniqueId] != nil) {
    KXRecord *holder = [view recordForVCard:card];
    // RFC 6352 5.3.4: a card's UID is its own, and a resource keeps the UID it has.
    if (holder != nil && (!exists || utf8Of([holder uniqueId]) != existing.uid)) {
      Card other;
      PutResult result = failure(PutResult::kUidConflict);
      result.otherName = cardOf(utf8Of([holder uniqueId]), &other) ? other.info.name : name;
      return result;
    }
    if (holder == nil && exists) {
      PutResult result = failure(PutResult::kUidConflict);
      result.otherName = name;
      return result;
    }
  }
  id applied = [[view applyVCards:[NSArray arrayWithObject:card]] lastObject];
  if (![applied isKindOfClass:[KXRecord class]]) {
    return failure(PutResult::kRefused, [applied isKindOfClass:[NSError class]]
                                            ? utf8Of([applied localizedDescription])
                                            : std::string("the card cannot be stored"));
  }
  NSString *uid = [applied uniqueId];
  // A name the collection would give the record anyway needs no row of its own.
  if (!exists && name != nameOfUid(utf8Of(uid)) && ![view setResourceName:nsStringOf(name) forUniqueId:uid]) {
    return failure(PutResult::kFailed, "the name cannot be given to the card");
  }
  NSError *error = nil;
  if (![view saveRequiringVersions:required(condition, exists ? nsStringOf(existing.uid) : uid) error:&error])
    return failure(outcomeOf(error, condition), utf8Of([error localizedDescription]));

  PutResult result;
  Card stored;
  if (!cardOf(utf8Of(uid), &stored)) return failure(PutResult::kFailed, "the card went as it was stored");
  result.outcome = exists ? PutResult::kUpdated : PutResult::kCreated;
  result.info = stored.info;
  int renders = 0;
  const std::string *text = render(stored, [book_ saveCount], declaredVersion(cardText), &renders);
  result.storedAsSent = text != nullptr && *text == cardText;
  return result;
}

RemoveResult BookCollection::remove(const std::string &name, const Condition &condition) {
  RemoveResult result;
  Card card;
  if (!findCard(name, &card)) {
    result.outcome = RemoveResult::kNotFound;
    return result;
  }
  if (!holds(condition, true, card.info.version)) {
    result.outcome = RemoveResult::kPreconditionFailed;
    return result;
  }
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  NSString *uid = nsStringOf(card.uid);
  KXRecord *record = [view recordForUniqueId:uid];
  NSError *error = nil;
  if (record == nil) {
    result.outcome = RemoveResult::kNotFound;
  } else if (![view removeRecord:record]) {
    result.message = "the book refused the removal";
  } else if ([view saveRequiringVersions:required(condition, uid) error:&error]) {
    result.outcome = RemoveResult::kRemoved;
  } else {
    result.outcome = [error code] == KXErrorNotAtVersion ? RemoveResult::kPreconditionFailed
                     : [error code] == KXErrorBusy       ? RemoveResult::kBusy
                                                         : RemoveResult::kFailed;
    result.message = utf8Of([error localizedDescription]);
  }
  [pool release];
  return result;
}

}  // namespace

std::unique_ptr<CardCollection> newBookCollection(KXLocalAddressBook *book) {
  return std::unique_ptr<CardCollection>(new BookCollection(book));
}

}  // namespace carddav
