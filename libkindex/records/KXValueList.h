/* The values of one record, by property: a short list of retained (key, value) pairs.
 *
 * A record holds a handful of properties, and a book may hold hundreds of thousands of
 * records: a list this short is found by a scan as quickly as by hashing, and in one
 * allocation it takes a fraction of the memory of a dictionary. Keys are nearly always the
 * library's own constant strings, so a lookup compares pointers first and only then texts.
 *
 * A list is made with make() or clone() and ended with destroy(), which releases what it
 * holds. Adding may move the list, so the adding calls take the holder's pointer.
 */
#ifndef KINDEX_KXVALUELIST_H
#define KINDEX_KXVALUELIST_H

#import <Foundation/Foundation.h>

#include "KXPacked.h"

struct KXValueList {
  struct Item {
    NSString *key;
    id value;
  };
  uint32_t count;
  uint32_t capacity;

  static const size_t npos = static_cast<size_t>(-1);

  static KXValueList *make(size_t capacity) { return kx::packedMake<KXValueList>(capacity); }

  // Retains what the copy shares with list.
  static KXValueList *clone(const KXValueList *list) {
    KXValueList *copy = kx::packedClone(list);
    for (const Item &item : *copy) {
      [item.key retain];
      [item.value retain];
    }
    return copy;
  }

  static void destroy(KXValueList *list) {
    if (list == nullptr) return;
    for (const Item &item : *list) {
      [item.key release];
      [item.value release];
    }
    std::free(list);
  }

  Item *begin() { return kx::packedItems(this); }
  Item *end() { return begin() + count; }
  const Item *begin() const { return kx::packedItems(this); }
  const Item *end() const { return begin() + count; }

  size_t indexOf(NSString *key) const {
    const Item *items = begin();
    for (size_t i = 0; i < count; i++) {
      if (items[i].key == key) return i;
    }
    for (size_t i = 0; i < count; i++) {
      if ([items[i].key isEqual:key]) return i;
    }
    return npos;
  }

  id get(NSString *key) const {
    size_t i = indexOf(key);
    return i != npos ? begin()[i].value : nil;
  }

  // Retains key and value.
  static void set(KXValueList *&list, NSString *key, id value) {
    adopt(list, [key retain], [value retain]);
  }

  // Takes over the caller's references to key and value: for decoders that just made them.
  static void adopt(KXValueList *&list, NSString *key, id value) {
    size_t i = list->indexOf(key);
    if (i != npos) {
      Item &item = list->begin()[i];
      [item.key release];
      [item.value release];
      item = Item{key, value};
      return;
    }
    *kx::packedInsert(list, list->count) = Item{key, value};
  }

  bool remove(NSString *key) {
    size_t i = indexOf(key);
    if (i == npos) return false;
    [begin()[i].key release];
    [begin()[i].value release];
    kx::packedErase(this, i);
    return true;
  }

  NSArray *keys() const {
    NSMutableArray *keys = [NSMutableArray arrayWithCapacity:count];
    for (const Item &item : *this) [keys addObject:item.key];
    return keys;
  }

  NSDictionary *dictionary() const {
    NSMutableDictionary *values = [NSMutableDictionary dictionaryWithCapacity:count];
    for (const Item &item : *this) [values setObject:item.value forKey:item.key];
    return values;
  }
};

#endif
