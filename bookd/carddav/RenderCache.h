/* Card texts already written, by card name and vCard version, with the card they were written
 * from (uid, version) and the save count of the book when that was last found current: while
 * the book has not saved since, a card read again costs one lookup here and a copy of its
 * text, and a multiget of a large book after the first is copying text. Bounded in bytes; the
 * least recently used cards' texts go first. */
#ifndef BOOKD_CARDDAV_RENDERCACHE_H
#define BOOKD_CARDDAV_RENDERCACHE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "CardCollection.h"

namespace carddav {

class RenderCache {
 public:
  struct Item {
    std::string uid;
    CardInfo info;         // info.name is the key
    uint64_t checkedAt;    // the book's save count when uid and info were last found current
    std::string texts[2];  // vCard 3, vCard 4; empty when not written
    const std::string &text(int vcardVersion) const { return texts[vcardVersion == 4 ? 1 : 0]; }
  };

  explicit RenderCache(size_t maxBytes) : maxBytes_(maxBytes) {}
  RenderCache(const RenderCache &) = delete;
  RenderCache &operator=(const RenderCache &) = delete;

  // The item of the card named name, or null; a hit makes it the most recently used. Valid
  // until the next put.
  Item *find(std::string_view name);
  // Keeps a copy of text for the card (uid, info) in vcardVersion, checked at checkedAt: the
  // name's item is replaced when it was of another card or version. Drops the least recently
  // used items beyond the bound; a text larger than the bound is not kept. Gives the kept
  // text, or null.
  const std::string *put(const std::string &uid, const CardInfo &info, uint64_t checkedAt, int vcardVersion,
                         const std::string &text);

  size_t bytes() const { return bytes_; }

 private:
  static size_t costOf(const Item &item);

  size_t maxBytes_;
  size_t bytes_ = 0;
  std::list<Item> items_;  // most recently used first
  // Keys are views of the items' names.
  std::unordered_map<std::string_view, std::list<Item>::iterator> index_;
};

}  // namespace carddav

#endif
