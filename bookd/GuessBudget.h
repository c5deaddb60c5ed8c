/* A budget of password checks per peer address, for each of bookd's services (and any other
 * that takes passwords from the network): a bucket of `burst` checks per address, refilled at
 * `refillPerSecond`, from which every failed check takes one. A success takes nothing, so a
 * user who types well never notices; a guesser gets `burst` tries at once and then about one
 * a second, whatever rate it sends at.
 *
 * The caller asks mayCheck() before comparing a password. When it answers false, the caller
 * answers the attempt exactly as a wrong password, without comparing, and tells the budget
 * with noteRefusal(), which says whether this refusal starts an episode (the caller logs
 * that one). After a comparison it calls noteFailure() or noteSuccess().
 *
 * Time is the caller's: seconds on any clock that never goes back (a test drives it by hand).
 * The table is bounded: an address whose bucket is full again is the same as one never seen
 * and is forgotten; when the table holds `maxAddresses`, the address touched least recently
 * is forgotten to make room, so that a flood of addresses costs memory up to the bound only.
 * Forgetting an address gives it a full bucket again, which is the price of the bound.
 *
 * Not thread-safe: each service uses its own from its run loop. */
#ifndef BOOKD_GUESSBUDGET_H
#define BOOKD_GUESSBUDGET_H

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

class GuessBudget {
 public:
  struct Limits {
    double burst = 20;
    double refillPerSecond = 1;
    std::size_t maxAddresses = 10000;
  };

  GuessBudget() = default;
  explicit GuessBudget(const Limits &limits) : limits_(limits) {}

  bool mayCheck(const std::string &address, double now);
  // true for the first refusal since the address last had a full bucket.
  bool noteRefusal(const std::string &address, double now);
  void noteFailure(const std::string &address, double now);
  // A success costs nothing and refunds nothing: a client that knows one password must not
  // buy more guesses at the other by logging in between them.
  void noteSuccess(const std::string &, double) {}

  // Seconds on the steady clock: the time to pass outside tests.
  static double SteadyNow();

  // Addresses remembered now; for tests and diagnostics.
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    double tokens;
    double updated;
    bool refusing;
    std::list<std::string>::iterator age;  // its place in recent_
  };
  using Table = std::unordered_map<std::string, Entry>;

  // The address's entry with its bucket refilled up to now; end() when the address has (or
  // would have) a full bucket, which is then forgotten.
  Table::iterator refreshed(const std::string &address, double now);
  Entry &touched(const std::string &address, double now);

  Limits limits_;
  Table entries_;
  std::list<std::string> recent_;  // most recently touched first
};

#endif
