/* One address book as the CardDAV service sees it: named cards with versions, a sync token,
 * and conditional saves. The service never keeps anything of it between requests; whatever
 * caching there is belongs to the implementation.
 *
 * Threading: everything is called from bookd's one thread, one call at a time.
 *
 * Consistency: every request starts with catchUp(). From then until the next catchUp() the
 * collection answers from one state, changed only by the service's own put() and remove()
 * calls, so that a listing, the sync token and the cards read after it agree.
 *
 * Names are resource names within the collection: non-empty UTF-8 without '/', NUL or other
 * control characters, at most kMaxNameLength bytes, never "." or "..". The service checks
 * this before it hands a name over; a collection may refuse further names in put().
 *
 * vCard versions are 3 (vCard 3.0, RFC 2426) or 4 (vCard 4.0, RFC 6350). Texts handed out are
 * complete vCards in UTF-8 with CRLF line ends; the same card read twice in one version
 * without a change in between gives the same bytes, because clients compare them. */
#ifndef BOOKD_CARDDAV_CARDCOLLECTION_H
#define BOOKD_CARDDAV_CARDCOLLECTION_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace carddav {

const size_t kMaxNameLength = 255;

struct CardInfo {
  std::string name;
  // Changes with every stored change of this card, and never goes back to a value this name
  // had before (a card removed and created again gets a new one). The service makes the
  // card's ETags from it: "<version>-3" and "<version>-4".
  uint64_t version = 0;
  // Unix seconds of the last stored change, for DAV:getlastmodified.
  int64_t modified = 0;
};

// What must hold for a save or removal to go ahead, checked by the collection in the same
// transaction as the change, so that nobody can slip a change in between.
struct Condition {
  enum Kind {
    kNone,       // unconditional
    kAbsent,     // no card of this name exists (If-None-Match: *)
    kPresent,    // a card of this name exists, whatever its version (If-Match: *)
    kVersionIn,  // a card of this name exists at one of `versions` (If-Match with ETags)
  };
  Kind kind = kNone;
  std::vector<uint64_t> versions;
};

struct PutResult {
  enum Outcome {
    kCreated,
    kUpdated,
    kPreconditionFailed,  // the Condition did not hold; nothing changed
    kUidConflict,         // another card holds this card's UID: `otherName`; nothing changed
    kRefused,             // the card cannot be taken: `message` says why, for the client
    kBusy,                // the store could not be had now; a retry may work (503)
    kFull,                // the store is out of space (507)
    kFailed,              // any other failure of the store; `message` is for the log (500)
  };
  Outcome outcome = kFailed;
  CardInfo info;  // kCreated, kUpdated: the card as stored
  // kCreated, kUpdated: the card read back in the version it was sent in gives the sent bytes
  // exactly. Only then may the client be given an ETag for what it sent (RFC 6352 6.3.2.3).
  bool storedAsSent = false;
  std::string otherName;  // kUidConflict
  std::string message;    // kRefused, kFailed
};

struct RemoveResult {
  enum Outcome { kRemoved, kNotFound, kPreconditionFailed, kBusy, kFailed };
  Outcome outcome = kFailed;
  std::string message;  // kFailed, for the log
};

class CardCollection {
 public:
  virtual ~CardCollection() = default;

  // Picks up what other clients and processes saved. Called at the start of every request,
  // so it must be cheap when nothing changed.
  virtual void catchUp() = 0;

  // Opaque, at most 200 bytes of URI characters (RFC 3986 unreserved, plus ':' '/' '.' '-'),
  // different after every change of any card. Also serves as the collection's ctag.
  virtual std::string syncToken() = 0;

  // Every card, in any order, without card text; must cost little per card.
  virtual void list(const std::function<void(const CardInfo &)> &each) = 0;

  // The card of that name; false when there is none.
  virtual bool find(const std::string &name, CardInfo *info) = 0;

  // For each name, in the order given: the card's info and text in vcardVersion, or null for
  // both when there is no such card (or it cannot be read).
  virtual void read(const std::vector<std::string> &names, int vcardVersion,
                    const std::function<void(const std::string &name, const CardInfo *info,
                                             const std::string *text)> &each) = 0;

  // Every card with its text in vcardVersion, in any order; the walk stops when each
  // answers false.
  virtual void readAll(int vcardVersion,
                       const std::function<bool(const CardInfo &info, const std::string &text)> &each) = 0;

  // What changed after the state `token` named: each card stored since (created or changed)
  // once through `changed`, and each name that had a card then and has none now once through
  // `removed`; then `newToken` is the current syncToken(). A card created and removed in
  // between may be reported as removed or not at all. False, with nothing reported, when the
  // token is not one this collection gave out or is too old to answer for.
  virtual bool changesSince(const std::string &token, const std::function<void(const CardInfo &)> &changed,
                            const std::function<void(const std::string &name)> &removed,
                            std::string *newToken) = 0;

  // Stores cardText (one vCard, 3.0 or 4.0, UTF-8, as the client sent it) under name, if the
  // condition holds. An unconditional save over an existing card is merged into it the way
  // the book's own saves merge; the collection decides what a card becomes (groups arrive
  // as ordinary cards: X-ADDRESSBOOKSERVER-KIND:group, KIND:group).
  virtual PutResult put(const std::string &name, const std::string &cardText, const Condition &condition) = 0;

  // Removes the card of that name, if the condition holds.
  virtual RemoveResult remove(const std::string &name, const Condition &condition) = 0;
};

}  // namespace carddav

#endif
