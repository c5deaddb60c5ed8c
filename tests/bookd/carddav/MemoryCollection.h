// A CardCollection that keeps cards as the text clients sent, for the protocol tests. Versions
// and sync tokens come from one change counter; the history of changes is kept (or forgotten
// on request, to expire tokens). It reads just enough of a card to find its UID, and makes
// the 4.0 representation by changing the VERSION line. Saves "from elsewhere" wait until the
// next catchUp(), so a test sees whether a request caught up first; the next put or remove can
// be made to fail the way a store fails.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CardCollection.h"

namespace kxtest {

class MemoryCollection : public carddav::CardCollection {
 public:
  // The time every change is stamped with (unix seconds).
  int64_t clock = 1700000000;

  void catchUp() override;
  std::string syncToken() override;
  void list(const std::function<void(const carddav::CardInfo &)> &each) override;
  bool find(const std::string &name, carddav::CardInfo *info) override;
  void read(const std::vector<std::string> &names, int vcardVersion,
            const std::function<void(const std::string &, const carddav::CardInfo *, const std::string *)>
                &each) override;
  void readAll(int vcardVersion,
               const std::function<bool(const carddav::CardInfo &, const std::string &)> &each) override;
  bool changesSince(const std::string &token, const std::function<void(const carddav::CardInfo &)> &changed,
                    const std::function<void(const std::string &)> &removed, std::string *newToken) override;
  carddav::PutResult put(const std::string &name, const std::string &cardText,
                         const carddav::Condition &condition) override;
  carddav::RemoveResult remove(const std::string &name, const carddav::Condition &condition) override;

  // Test controls.
  void saveElsewhere(const std::string &name, const std::string &text);  // applied at catchUp()
  void removeElsewhere(const std::string &name);                         // applied at catchUp()
  void forgetHistory();  // every token given out so far becomes too old
  void failNextWrite(carddav::PutResult::Outcome outcome) { failure_ = outcome; }
  size_t size() const { return cards_.size(); }
  // The stored text of a card, or "" when there is none.
  std::string text(const std::string &name) const;
  uint64_t changeCount() const { return counter_; }
  int catchUps() const { return catchUps_; }

 private:
  struct Card {
    std::string text;
    std::string uid;
    carddav::CardInfo info;
  };
  struct Change {
    uint64_t counter;
    std::string name;
  };
  bool holds(const Card &card, const carddav::Condition &condition) const;
  static std::string Representation(const std::string &text, int vcardVersion);

  std::map<std::string, Card> cards_;
  std::map<std::string, std::string> names_;  // uid -> name
  std::vector<Change> history_;
  uint64_t counter_ = 0;
  uint64_t oldestToken_ = 0;
  int catchUps_ = 0;
  std::vector<std::pair<std::string, std::string>> pending_;  // name, text ("" removes)
  int failure_ = -1;
};

// "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:<uid>\r\nFN:<fn>\r\n<extra>END:VCARD\r\n"; extra holds whole
// lines with their CRLF.
std::string Card(const std::string &uid, const std::string &fn, const std::string &extra = "");

}  // namespace kxtest
