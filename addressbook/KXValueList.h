/* The values of one record, by property: a short list of retained (key, value) pairs.
 *
 * A record holds a handful of properties, and a book may hold hundreds of thousands of
 * records: a list this short is found by a scan as quickly as by hashing, and it takes a
 * quarter of the memory of a dictionary. Keys are nearly always the library's own constant
 * strings, so a lookup compares pointers first and only then the texts.
 *
 * The list owns what it holds: it retains keys and values and releases them when they are
 * replaced or the list is deleted.
 */
#ifndef KINDEX_KXVALUELIST_H
#define KINDEX_KXVALUELIST_H

#import <Foundation/Foundation.h>

#include <vector>

struct KXValueList {
  struct Pair {
    NSString *key;
    id value;
  };

  KXValueList() = default;
  KXValueList(const KXValueList &other) : pairs(other.pairs) {
    for (const Pair &pair : pairs) {
      [pair.key retain];
      [pair.value retain];
    }
  }
  KXValueList &operator=(const KXValueList &) = delete;
  ~KXValueList() { clear(); }

  size_t indexOf(NSString *key) const {
    for (size_t i = 0; i < pairs.size(); i++) {
      if (pairs[i].key == key) return i;
    }
    for (size_t i = 0; i < pairs.size(); i++) {
      if ([pairs[i].key isEqual:key]) return i;
    }
    return npos;
  }

  id get(NSString *key) const {
    size_t i = indexOf(key);
    return i != npos ? pairs[i].value : nil;
  }

  // Retains key and value.
  void set(NSString *key, id value) {
    [value retain];
    size_t i = indexOf(key);
    if (i != npos) {
      [pairs[i].value release];
      pairs[i].value = value;
      return;
    }
    if (pairs.capacity() == 0) pairs.reserve(4);
    pairs.push_back(Pair{[key retain], value});
  }

  // Takes over the caller's references to key and value: for decoders that just made them.
  void adopt(NSString *key, id value) {
    size_t i = indexOf(key);
    if (i != npos) {
      [pairs[i].key release];
      [pairs[i].value release];
      pairs[i] = Pair{key, value};
      return;
    }
    pairs.push_back(Pair{key, value});
  }

  bool remove(NSString *key) {
    size_t i = indexOf(key);
    if (i == npos) return false;
    [pairs[i].key release];
    [pairs[i].value release];
    pairs.erase(pairs.begin() + static_cast<long>(i));
    return true;
  }

  void clear() {
    for (const Pair &pair : pairs) {
      [pair.key release];
      [pair.value release];
    }
    pairs.clear();
  }

  NSArray *keys() const {
    NSMutableArray *keys = [NSMutableArray arrayWithCapacity:pairs.size()];
    for (const Pair &pair : pairs) [keys addObject:pair.key];
    return keys;
  }

  NSDictionary *dictionary() const {
    NSMutableDictionary *values = [NSMutableDictionary dictionaryWithCapacity:pairs.size()];
    for (const Pair &pair : pairs) [values setObject:pair.value forKey:pair.key];
    return values;
  }

  static const size_t npos = static_cast<size_t>(-1);
  std::vector<Pair> pairs;
};

#endif
