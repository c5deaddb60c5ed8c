#include "RenderCache.h"

namespace carddav {

// Roughly what an item takes: its texts, and for the list node, the index entry and the
// strings, a fixed amount.
size_t RenderCache::costOf(const Item &item) {
  return item.texts[0].size() + item.texts[1].size() + item.uid.size() + 2 * item.info.name.size() + 160;
}

RenderCache::Item *RenderCache::find(std::string_view name) {
  auto it = index_.find(name);
  if (it == index_.end()) return nullptr;
  items_.splice(items_.begin(), items_, it->second);
  return &*it->second;
}

const std::string *RenderCache::put(const std::string &uid, const CardInfo &info, uint64_t checkedAt,
                                    int vcardVersion, const std::string &text) {
  if (text.empty() || text.size() + uid.size() + 2 * info.name.size() + 160 > maxBytes_) return nullptr;
  auto it = index_.find(info.name);
  if (it == index_.end()) {
    items_.emplace_front();
    items_.front().info.name = info.name;
    it = index_.emplace(items_.front().info.name, items_.begin()).first;
  } else {
    items_.splice(items_.begin(), items_, it->second);
    bytes_ -= costOf(*it->second);
  }
  Item &item = *it->second;
  if (item.uid != uid || item.info.version != info.version) {
    item.uid = uid;
    item.texts[0].clear();
    item.texts[1].clear();
  }
  item.info.version = info.version;
  item.info.modified = info.modified;
  item.checkedAt = checkedAt;
  std::string &slot = item.texts[vcardVersion == 4 ? 1 : 0];
  slot = text;
  bytes_ += costOf(item);
  while (bytes_ > maxBytes_ && items_.size() > 1) {
    Item &last = items_.back();
    bytes_ -= costOf(last);
    index_.erase(last.info.name);
    items_.pop_back();
  }
  return &slot;
}

}  // namespace carddav
