/* Bounds password guessing per client address. The service asks before it checks a password
 * and reports the outcome; when the budget says no, the client gets 401 at once, the same
 * answer as for a wrong password, and no password is compared. */
#ifndef BOOKD_CARDDAV_LOGINBUDGET_H
#define BOOKD_CARDDAV_LOGINBUDGET_H

#include <map>
#include <string>

namespace carddav {

class LoginBudget {
 public:
  virtual ~LoginBudget() = default;
  // address is the client's address as text (IPv4 dotted, IPv6 canonical).
  virtual bool mayCheckPassword(const std::string &address) = 0;
  virtual void noteFailure(const std::string &address) = 0;
  virtual void noteSuccess(const std::string &address) = 0;
};

// The simplest budget: an address may fail maxFailures times; after that its passwords are no
// longer checked. A success clears the address's count. Nothing refills with time.
class FailureCountBudget : public LoginBudget {
 public:
  explicit FailureCountBudget(unsigned maxFailures) : max_(maxFailures) {}
  bool mayCheckPassword(const std::string &address) override { return failures_[address] < max_; }
  void noteFailure(const std::string &address) override { failures_[address]++; }
  void noteSuccess(const std::string &address) override { failures_.erase(address); }

 private:
  unsigned max_;
  std::map<std::string, unsigned> failures_;
};

}  // namespace carddav

#endif
