#include "GuessBudget.h"

#include <algorithm>
#include <chrono>

double GuessBudget::SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

GuessBudget::Table::iterator GuessBudget::refreshed(const std::string &address, double now) {
  Table::iterator found = entries_.find(address);
  if (found == entries_.end()) return found;
  Entry &entry = found->second;
  // A clock that stood still or went back refills nothing.
  const double elapsed = std::max(0.0, now - entry.updated);
  entry.tokens = std::min(limits_.burst, entry.tokens + elapsed * limits_.refillPerSecond);
  entry.updated = std::max(entry.updated, now);
  if (entry.tokens < limits_.burst) return found;
  recent_.erase(entry.age);
  entries_.erase(found);
  return entries_.end();
}

GuessBudget::Entry &GuessBudget::touched(const std::string &address, double now) {
  Table::iterator found = refreshed(address, now);
  if (found != entries_.end()) {
    recent_.splice(recent_.begin(), recent_, found->second.age);
    return found->second;
  }
  if (limits_.maxAddresses > 0 && entries_.size() >= limits_.maxAddresses) {
    entries_.erase(recent_.back());
    recent_.pop_back();
  }
  recent_.push_front(address);
  Entry fresh{limits_.burst, now, false, recent_.begin()};
  return entries_.emplace(address, fresh).first->second;
}

bool GuessBudget::mayCheck(const std::string &address, double now) {
  Table::iterator found = refreshed(address, now);
  return found == entries_.end() || found->second.tokens >= 1;
}

bool GuessBudget::noteRefusal(const std::string &address, double now) {
  Entry &entry = touched(address, now);
  const bool starts = !entry.refusing;
  entry.refusing = true;
  return starts;
}

void GuessBudget::noteFailure(const std::string &address, double now) {
  Entry &entry = touched(address, now);
  entry.tokens = std::max(0.0, entry.tokens - 1);
}
