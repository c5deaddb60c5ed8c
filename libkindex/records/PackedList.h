/* Short lists of retained objects, each list one allocation: a small header (count, capacity)
 * followed by the items.
 *
 * A book holds a list of values per record and a list of entries per multi-value, hundreds of
 * thousands of each: a separate header and buffer, as a vector has, would double the number of
 * allocations and their overhead, and a dictionary or three arrays would cost several times
 * more. An item is a few object pointers that the list retains; items move with memmove.
 *
 * A list is made with make() or clone() and ended with destroy(), which releases what it
 * holds. Inserting may move the list, so the calls that add take the holder's pointer.
 */
#ifndef KINDEX_PACKEDLIST_H
#define KINDEX_PACKEDLIST_H

#import <Foundation/Foundation.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kx {

/* List is the list type itself, deriving from this and adding no fields; ItemType a struct of
 * object pointers with retain() and release() (nil fields allowed). */
template <typename List, typename ItemType>
struct PackedList {
  using Item = ItemType;
  static constexpr size_t npos = static_cast<size_t>(-1);

  uint32_t count;
  uint32_t capacity;

  static List *make(size_t capacity) {
    static_assert(sizeof(List) == sizeof(PackedList), "the items follow the header directly");
    void *block = std::malloc(sizeof(List) + capacity * sizeof(Item));
    if (block == nullptr) throw std::bad_alloc();
    List *list = static_cast<List *>(block);
    list->count = 0;
    list->capacity = static_cast<uint32_t>(capacity);
    return list;
  }

  /* A copy sized to fit, retaining what it shares with list. */
  static List *clone(const List *list) {
    List *copy = make(list->count);
    std::memcpy(static_cast<void *>(copy->begin()), list->begin(), list->count * sizeof(Item));
    copy->count = list->count;
    for (const Item &item : *copy) item.retain();
    return copy;
  }

  static void destroy(List *list) {
    if (list == nullptr) return;
    for (const Item &item : *list) item.release();
    std::free(list);
  }

  Item *begin() { return reinterpret_cast<Item *>(static_cast<List *>(this) + 1); }
  Item *end() { return begin() + count; }
  const Item *begin() const { return reinterpret_cast<const Item *>(static_cast<const List *>(this) + 1); }
  const Item *end() const { return begin() + count; }
  Item &operator[](size_t index) { return begin()[index]; }
  const Item &operator[](size_t index) const { return begin()[index]; }

  /* Puts item at index (items from index on move up), taking over the caller's references.
   * Lists stay small, so they grow one item at a time up to four, then by half. */
  static void insert(List *&list, size_t index, const Item &item) {
    if (list->count == list->capacity) {
      size_t capacity = list->capacity < 4 ? list->capacity + 1 : list->capacity + list->capacity / 2;
      void *block = std::realloc(static_cast<void *>(list), sizeof(List) + capacity * sizeof(Item));
      if (block == nullptr) throw std::bad_alloc();
      list = static_cast<List *>(block);
      list->capacity = static_cast<uint32_t>(capacity);
    }
    Item *items = list->begin();
    std::memmove(static_cast<void *>(items + index + 1), items + index, (list->count - index) * sizeof(Item));
    items[index] = item;
    list->count++;
  }

  /* Releases the item at index and closes the gap. */
  void erase(size_t index) {
    Item *items = begin();
    items[index].release();
    std::memmove(static_cast<void *>(items + index), items + index + 1, (count - index - 1) * sizeof(Item));
    count--;
  }
};

struct ValueItem {
  NSString *key;
  id value;
  void retain() const {
    [key retain];
    [value retain];
  }
  void release() const {
    [key release];
    [value release];
  }
};

struct EntryItem {
  NSString *identifier;
  NSString *label;  // nil for none
  id value;
  NSDictionary *attributes;  // nil for none, never empty
  void retain() const {
    [identifier retain];
    [label retain];
    [value retain];
    [attributes retain];
  }
  void release() const {
    [identifier release];
    [label release];
    [value release];
    [attributes release];
  }
};

/* Whether two entries say different things: value, label or attributes (not the identifier).
 * What every comparison of entries uses, so that none forgets the attributes. */
bool entriesDiffer(const EntryItem &a, const EntryItem &b);

}  // namespace kx

/* The values of one record, by property: (key, value) pairs.
 *
 * A record holds a handful of properties: a list this short is found by a scan as quickly as
 * by hashing. Keys are nearly always the library's own constant strings, so a lookup compares
 * pointers first and only then texts. */
struct KXValueList : kx::PackedList<KXValueList, kx::ValueItem> {
  size_t indexOf(NSString *key) const {
    for (size_t i = 0; i < count; i++) {
      if ((*this)[i].key == key) return i;
    }
    for (size_t i = 0; i < count; i++) {
      if ([(*this)[i].key isEqual:key]) return i;
    }
    return npos;
  }

  id get(NSString *key) const {
    size_t i = indexOf(key);
    return i != npos ? (*this)[i].value : nil;
  }

  /* Retains key and value. */
  static void set(KXValueList *&list, NSString *key, id value) { adopt(list, [key retain], [value retain]); }

  /* Takes over the caller's references to key and value: for decoders that just made them. */
  static void adopt(KXValueList *&list, NSString *key, id value) {
    size_t i = list->indexOf(key);
    if (i == npos) {
      insert(list, list->count, Item{key, value});
      return;
    }
    (*list)[i].release();
    (*list)[i] = Item{key, value};
  }

  bool remove(NSString *key) {
    size_t i = indexOf(key);
    if (i == npos) return false;
    erase(i);
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

/* The entries of one multi-value: identifier, label and value. Nearly every multi-value of a
 * book holds one or two entries. */
struct KXEntryList : kx::PackedList<KXEntryList, kx::EntryItem> {
  size_t indexOf(NSString *identifier) const {
    if (identifier == nil) return npos;
    for (size_t i = 0; i < count; i++) {
      NSString *mine = (*this)[i].identifier;
      if (mine == identifier || [mine isEqual:identifier]) return i;
    }
    return npos;
  }
};

#endif
