#include "RenderCache.h"

namespace carddav {

// Roughly what an item takes beyond its texts: the list node, the index entry, the uid.
size_t RenderCache::Item::cost() const {
  return texts[0].size() + texts[1].size() + 2 * uid.size() + 128;
}

const std::string *RenderCache::find(std::string_view uid, uint64_t version, int vcardVersion) {
  auto it = index_.find(uid);
  if (it == index_.end() || it->second->version != version) return nullptr;
  const std::string &text = it->second->texts[vcardVersion == 4 ? 1 : 0];
  if (text.empty()) return nullptr;
  items_.splice(items_.begin(), items_, it->second);
  return &text;
}

const std::string *RenderCache::put(std::string_view uid, uint64_t version, int vcardVersion,
                                    const std::string &text) {
  if (text.empty() || text.size() + 2 * uid.size() + 128 > maxBytes_) return nullptr;
  auto it = index_.find(uid);
  if (it == index_.end()) {
    items_.emplace_front();
    items_.front().uid = std::string(uid);
    items_.front().version = version;
    it = index_.emplace(items_.front().uid, items_.begin()).first;
  } else {
    items_.splice(items_.begin(), items_, it->second);
    bytes_ -= it->second->cost();
  }
  Item &item = *it->second;
  if (item.version != version) {
    item.version = version;
    item.texts[0].clear();
    item.texts[1].clear();
  }
  std::string &slot = item.texts[vcardVersion == 4 ? 1 : 0];
  slot = text;
  bytes_ += item.cost();
  while (bytes_ > maxBytes_ && items_.size() > 1) {
    Item &last = items_.back();
    bytes_ -= last.cost();
    index_.erase(last.uid);
    items_.pop_back();
  }
  return &slot;
}

}  // namespace carddav
