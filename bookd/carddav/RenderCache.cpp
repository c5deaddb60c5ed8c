#include "RenderCache.h"

namespace carddav {

std::string RenderCache::keyOf(const std::string &uid, uint64_t version, int vcardVersion) {
  std::string key = uid;
  key += '\0';
  key += std::to_string(version);
  key += vcardVersion == 4 ? "-4" : "-3";
  return key;
}

const std::string *RenderCache::find(const std::string &uid, uint64_t version, int vcardVersion) {
  auto it = index_.find(keyOf(uid, version, vcardVersion));
  if (it == index_.end()) return nullptr;
  items_.splice(items_.begin(), items_, it->second);
  return &it->second->text;
}

const std::string *RenderCache::put(const std::string &uid, uint64_t version, int vcardVersion,
                                    const std::string &text) {
  std::string key = keyOf(uid, version, vcardVersion);
  // What an entry costs beyond its text, roughly: the list node and the index's.
  const size_t cost = text.size() + 2 * key.size() + 128;
  if (cost > maxBytes_) return nullptr;
  auto found = index_.find(key);
  if (found != index_.end()) {
    items_.splice(items_.begin(), items_, found->second);
    return &found->second->text;
  }
  while (bytes_ + cost > maxBytes_ && !items_.empty()) {
    const Item &last = items_.back();
    bytes_ -= last.text.size() + 2 * last.key.size() + 128;
    index_.erase(last.key);
    items_.pop_back();
  }
  items_.push_front(Item{key, text});
  index_.emplace(std::move(key), items_.begin());
  bytes_ += cost;
  return &items_.front().text;
}

}  // namespace carddav
