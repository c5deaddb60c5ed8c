/* The entries of one multi-value: identifier, label (nil for none) and value, each retained.
 *
 * Nearly every multi-value of a book holds one or two entries, and a book may hold hundreds
 * of thousands of them: one allocation of triples costs a fraction of three arrays.
 *
 * A list is made with make() or clone() and ended with destroy(), which releases what it
 * holds. Inserting may move the list, so insert() takes the holder's pointer.
 */
#ifndef KINDEX_KXENTRYLIST_H
#define KINDEX_KXENTRYLIST_H

#import <Foundation/Foundation.h>

#include "KXPacked.h"

struct KXEntryList {
  struct Item {
    NSString *identifier;
    NSString *label;
    id value;
  };
  uint32_t count;
  uint32_t capacity;

  static const size_t npos = static_cast<size_t>(-1);

  static KXEntryList *make(size_t capacity) { return kx::packedMake<KXEntryList>(capacity); }

  // Retains what the copy shares with list.
  static KXEntryList *clone(const KXEntryList *list) {
    KXEntryList *copy = kx::packedClone(list);
    for (const Item &item : *copy) {
      [item.identifier retain];
      [item.label retain];
      [item.value retain];
    }
    return copy;
  }

  static void destroy(KXEntryList *list) {
    if (list == nullptr) return;
    for (const Item &item : *list) release(item);
    std::free(list);
  }

  Item *begin() { return kx::packedItems(this); }
  Item *end() { return begin() + count; }
  const Item *begin() const { return kx::packedItems(this); }
  const Item *end() const { return begin() + count; }
  Item &operator[](size_t index) { return begin()[index]; }
  const Item &operator[](size_t index) const { return begin()[index]; }

  size_t indexOf(NSString *identifier) const {
    if (identifier == nil) return npos;
    for (size_t i = 0; i < count; i++) {
      NSString *mine = begin()[i].identifier;
      if (mine == identifier || [mine isEqual:identifier]) return i;
    }
    return npos;
  }

  // Takes over the caller's references to the three.
  static void insert(KXEntryList *&list, size_t index, NSString *identifier, NSString *label, id value) {
    *kx::packedInsert(list, index) = Item{identifier, label, value};
  }

  void erase(size_t index) {
    release(begin()[index]);
    kx::packedErase(this, index);
  }

  static void release(const Item &item) {
    [item.identifier release];
    [item.label release];
    [item.value release];
  }
};

#endif
