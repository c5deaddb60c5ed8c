/* Card texts already written, by record and vCard version, each for the record version it was
 * written from: a multiget of a large book after the first is copying text. Bounded in bytes;
 * the least recently used record's texts go first. A text of an older version is never
 * handed out: asking for a newer version misses, and storing it replaces the older texts. */
#ifndef BOOKD_CARDDAV_RENDERCACHE_H
#define BOOKD_CARDDAV_RENDERCACHE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

namespace carddav {

class RenderCache {
 public:
  explicit RenderCache(size_t maxBytes) : maxBytes_(maxBytes) {}
  RenderCache(const RenderCache &) = delete;
  RenderCache &operator=(const RenderCache &) = delete;

  // The text kept for uid at version in vcardVersion (3 or 4), or null; a hit makes the
  // record the most recently used. Valid until the next put.
  const std::string *find(std::string_view uid, uint64_t version, int vcardVersion);
  // Keeps a copy of text, dropping the least recently used records' texts beyond the bound; a
  // text larger than the bound is not kept. Gives the kept text, or null.
  const std::string *put(std::string_view uid, uint64_t version, int vcardVersion, const std::string &text);

  size_t bytes() const { return bytes_; }

 private:
  struct Item {
    std::string uid;
    uint64_t version = 0;
    std::string texts[2];  // vCard 3, vCard 4; empty when not written
    size_t cost() const;
  };

  size_t maxBytes_;
  size_t bytes_ = 0;
  std::list<Item> items_;  // most recently used first
  // Keys are views of the items' uids.
  std::unordered_map<std::string_view, std::list<Item>::iterator> index_;
};

}  // namespace carddav

#endif
