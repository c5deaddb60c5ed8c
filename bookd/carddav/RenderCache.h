/* Card texts already written, by record, record version and vCard version: a multiget of a
 * large book after the first is copying text. Bounded in bytes; the least recently used text
 * goes first. Keys carry the version, so a stored change never meets an old text: old ones
 * are never asked for again and age out. */
#ifndef BOOKD_CARDDAV_RENDERCACHE_H
#define BOOKD_CARDDAV_RENDERCACHE_H

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace carddav {

class RenderCache {
 public:
  explicit RenderCache(size_t maxBytes) : maxBytes_(maxBytes) {}

  // The text kept for the key, or null; a hit becomes the most recently used.
  const std::string *find(const std::string &uid, uint64_t version, int vcardVersion);
  // Keeps text (a copy) for the key, dropping the least recently used texts beyond the bound;
  // a text larger than the bound is not kept. Gives the kept text, or null.
  const std::string *put(const std::string &uid, uint64_t version, int vcardVersion, const std::string &text);

  size_t bytes() const { return bytes_; }

 private:
  struct Item {
    std::string key;
    std::string text;
  };
  static std::string keyOf(const std::string &uid, uint64_t version, int vcardVersion);

  size_t maxBytes_;
  size_t bytes_ = 0;
  std::list<Item> items_;  // most recently used first
  std::unordered_map<std::string, std::list<Item>::iterator> index_;
};

}  // namespace carddav

#endif
