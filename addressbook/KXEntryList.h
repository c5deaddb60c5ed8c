/* The entries of one multi-value: identifier, label (nil for none) and value, each retained.
 *
 * Nearly every multi-value of a book holds one or two entries, and a book may hold hundreds
 * of thousands of them: one vector of triples costs a fraction of three arrays.
 */
#ifndef KINDEX_KXENTRYLIST_H
#define KINDEX_KXENTRYLIST_H

#import <Foundation/Foundation.h>

#include <vector>

struct KXEntryList {
  struct Entry {
    NSString *identifier;
    NSString *label;
    id value;
  };

  KXEntryList() = default;
  KXEntryList(const KXEntryList &other) : entries(other.entries) {
    for (const Entry &entry : entries) {
      [entry.identifier retain];
      [entry.label retain];
      [entry.value retain];
    }
  }
  KXEntryList &operator=(const KXEntryList &) = delete;
  ~KXEntryList() {
    for (const Entry &entry : entries) release(entry);
  }

  size_t size() const { return entries.size(); }

  size_t indexOf(NSString *identifier) const {
    if (identifier == nil) return npos;
    for (size_t i = 0; i < entries.size(); i++) {
      if (entries[i].identifier == identifier || [entries[i].identifier isEqual:identifier]) return i;
    }
    return npos;
  }

  // Takes over the caller's references to the three.
  void insertAdopting(size_t index, NSString *identifier, NSString *label, id value) {
    entries.insert(entries.begin() + static_cast<long>(index), Entry{identifier, label, value});
  }

  void erase(size_t index) {
    release(entries[index]);
    entries.erase(entries.begin() + static_cast<long>(index));
  }

  static void release(const Entry &entry) {
    [entry.identifier release];
    [entry.label release];
    [entry.value release];
  }

  static const size_t npos = static_cast<size_t>(-1);
  std::vector<Entry> entries;
};

#endif
