#include "MemoryCollection.h"

#include <algorithm>
#include <set>

namespace kxtest {

using carddav::CardInfo;
using carddav::Condition;
using carddav::PutResult;
using carddav::RemoveResult;

namespace {

std::string uidOf(const std::string &text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 4, "UID:") == 0 || line.compare(0, 4, "uid:") == 0) return line.substr(4);
    if (eol == std::string::npos) break;
    pos = eol + 1;
  }
  return "";
}

}  // namespace

std::string Card(const std::string &uid, const std::string &fn, const std::string &extra) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + fn + "\r\n" + extra + "END:VCARD\r\n";
}

std::string MemoryCollection::Representation(const std::string &text, int vcardVersion) {
  std::string out = text;
  const std::string from = vcardVersion == 4 ? "VERSION:3.0" : "VERSION:4.0";
  const std::string to = vcardVersion == 4 ? "VERSION:4.0" : "VERSION:3.0";
  size_t at = out.find(from);
  if (at != std::string::npos) out.replace(at, from.size(), to);
  return out;
}

void MemoryCollection::catchUp() {
  ++catchUps_;
  std::vector<std::pair<std::string, std::string>> pending;
  pending.swap(pending_);
  for (const auto &change : pending) {
    if (change.second.empty()) {
      remove(change.first, Condition());
    } else {
      put(change.first, change.second, Condition());
    }
  }
}

std::string MemoryCollection::syncToken() {
  return "m" + std::to_string(counter_);
}

void MemoryCollection::list(const std::function<void(const CardInfo &)> &each) {
  for (const auto &entry : cards_) each(entry.second.info);
}

bool MemoryCollection::find(const std::string &name, CardInfo *info) {
  auto it = cards_.find(name);
  if (it == cards_.end()) return false;
  *info = it->second.info;
  return true;
}

void MemoryCollection::read(
    const std::vector<std::string> &names, int vcardVersion,
    const std::function<void(const std::string &, const CardInfo *, const std::string *)> &each) {
  for (const std::string &name : names) {
    auto it = cards_.find(name);
    if (it == cards_.end()) {
      each(name, nullptr, nullptr);
    } else {
      const std::string text = Representation(it->second.text, vcardVersion);
      each(name, &it->second.info, &text);
    }
  }
}

void MemoryCollection::readAll(int vcardVersion,
                               const std::function<bool(const CardInfo &, const std::string &)> &each) {
  for (const auto &entry : cards_)
    if (!each(entry.second.info, Representation(entry.second.text, vcardVersion))) return;
}

bool MemoryCollection::changesSince(const std::string &token,
                                    const std::function<void(const CardInfo &)> &changed,
                                    const std::function<void(const std::string &)> &removed,
                                    std::string *newToken) {
  if (token.size() < 2 || token[0] != 'm' || token.find_first_not_of("0123456789", 1) != std::string::npos)
    return false;
  const uint64_t since = std::stoull(token.substr(1));
  if (since > counter_ || since < oldestToken_) return false;
  std::set<std::string> names;
  for (const Change &change : history_)
    if (change.counter > since) names.insert(change.name);
  for (const std::string &name : names) {
    auto it = cards_.find(name);
    if (it != cards_.end()) {
      changed(it->second.info);
    } else {
      removed(name);
    }
  }
  *newToken = syncToken();
  return true;
}

bool MemoryCollection::holds(const Card &card, const Condition &condition) const {
  switch (condition.kind) {
    case Condition::kNone:
      return true;
    case Condition::kAbsent:
      return false;
    case Condition::kPresent:
      return true;
    case Condition::kVersionIn:
      return std::find(condition.versions.begin(), condition.versions.end(), card.info.version) !=
             condition.versions.end();
  }
  return false;
}

PutResult MemoryCollection::put(const std::string &name, const std::string &cardText,
                                const Condition &condition) {
  PutResult result;
  if (failure_ >= 0) {
    result.outcome = static_cast<PutResult::Outcome>(failure_);
    result.message = "made to fail";
    failure_ = -1;
    return result;
  }
  auto existing = cards_.find(name);
  const bool exists = existing != cards_.end();
  if (exists ? !holds(existing->second, condition)
             : (condition.kind == Condition::kPresent || condition.kind == Condition::kVersionIn)) {
    result.outcome = PutResult::kPreconditionFailed;
    return result;
  }
  const std::string uid = uidOf(cardText);
  if (uid.empty()) {
    result.outcome = PutResult::kRefused;
    result.message = "the card has no UID";
    return result;
  }
  auto holder = names_.find(uid);
  if (holder != names_.end() && holder->second != name) {
    result.outcome = PutResult::kUidConflict;
    result.otherName = holder->second;
    return result;
  }
  Card &card = cards_[name];
  if (exists) names_.erase(card.uid);
  names_[uid] = name;
  card.text = cardText;
  card.uid = uid;
  card.info.name = name;
  card.info.version = ++counter_;
  card.info.modified = clock;
  history_.push_back({counter_, name});
  result.outcome = exists ? PutResult::kUpdated : PutResult::kCreated;
  result.info = card.info;
  result.storedAsSent = true;
  return result;
}

RemoveResult MemoryCollection::remove(const std::string &name, const Condition &condition) {
  RemoveResult result;
  if (failure_ >= 0) {
    result.outcome = failure_ == PutResult::kBusy ? RemoveResult::kBusy : RemoveResult::kFailed;
    result.message = "made to fail";
    failure_ = -1;
    return result;
  }
  auto it = cards_.find(name);
  if (it == cards_.end()) {
    result.outcome = RemoveResult::kNotFound;
    return result;
  }
  if (!holds(it->second, condition)) {
    result.outcome = RemoveResult::kPreconditionFailed;
    return result;
  }
  names_.erase(it->second.uid);
  cards_.erase(it);
  history_.push_back({++counter_, name});
  result.outcome = RemoveResult::kRemoved;
  return result;
}

void MemoryCollection::saveElsewhere(const std::string &name, const std::string &text) {
  pending_.emplace_back(name, text);
}

void MemoryCollection::removeElsewhere(const std::string &name) {
  pending_.emplace_back(name, "");
}

void MemoryCollection::forgetHistory() {
  history_.clear();
  oldestToken_ = counter_;
}

std::string MemoryCollection::text(const std::string &name) const {
  auto it = cards_.find(name);
  return it == cards_.end() ? "" : it->second.text;
}

}  // namespace kxtest
