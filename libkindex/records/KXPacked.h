// One allocation per list: a small header (count, capacity) followed by the items.
//
// A book holds a list of values per record and a list of entries per multi-value, hundreds of
// thousands of each: a separate header and buffer, as a vector has, would double the number of
// allocations and their overhead. A list type using these declares `Item` (plain pointers,
// moved with memmove) and the two fields `count` and `capacity`, and nothing else.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kx {

template <typename List>
typename List::Item *packedItems(List *list) {
  return reinterpret_cast<typename List::Item *>(list + 1);
}

template <typename List>
const typename List::Item *packedItems(const List *list) {
  return reinterpret_cast<const typename List::Item *>(list + 1);
}

template <typename List>
List *packedMake(size_t capacity) {
  void *block = std::malloc(sizeof(List) + capacity * sizeof(typename List::Item));
  if (block == nullptr) throw std::bad_alloc();
  List *list = static_cast<List *>(block);
  list->count = 0;
  list->capacity = static_cast<uint32_t>(capacity);
  return list;
}

// A copy of the items, sized to fit; the caller retains what the items point to.
template <typename List>
List *packedClone(const List *list) {
  List *copy = packedMake<List>(list->count);
  std::memcpy(static_cast<void *>(packedItems(copy)), packedItems(list), list->count * sizeof(typename List::Item));
  copy->count = list->count;
  return copy;
}

// Opens a slot at index (items from index on move up) and gives it; may move the list.
// Lists stay small, so they grow one item at a time up to four, then by half.
template <typename List>
typename List::Item *packedInsert(List *&list, size_t index) {
  if (list->count == list->capacity) {
    size_t capacity = list->capacity < 4 ? list->capacity + 1 : list->capacity + list->capacity / 2;
    void *block = std::realloc(static_cast<void *>(list), sizeof(List) + capacity * sizeof(typename List::Item));
    if (block == nullptr) throw std::bad_alloc();
    list = static_cast<List *>(block);
    list->capacity = static_cast<uint32_t>(capacity);
  }
  typename List::Item *items = packedItems(list);
  std::memmove(static_cast<void *>(items + index + 1), items + index, (list->count - index) * sizeof(*items));
  list->count++;
  return items + index;
}

template <typename List>
void packedErase(List *list, size_t index) {
  typename List::Item *items = packedItems(list);
  std::memmove(static_cast<void *>(items + index), items + index + 1, (list->count - index - 1) * sizeof(*items));
  list->count--;
}

}  // namespace kx
