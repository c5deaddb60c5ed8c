// Unique ids of records and multi-value entries.
//
// An id is 32 hex digits and three dashes: microseconds since 1970 (16 digits), a random tag
// drawn once per process (8), and a per-process counter (8). Ids from one process sort in
// creation order, so a store's index on them grows at its end; the tag keeps two processes
// (or two hosts) that create ids in the same microsecond apart. A forked child draws a tag
// of its own.
//
// The text is "%012llx-%04llx-%08x-%08x" of micros >> 16, micros & 0xffff, tag and counter:
// lower-case digits, 35 characters. The numbers alone (UniqueIdParts) say the same in 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx {

struct UniqueIdParts {
  uint64_t micros;
  uint32_t tag;
  uint32_t counter;
};

const size_t kUniqueIdLength = 35;

UniqueIdParts newUniqueIdParts();
std::string newUniqueId();
// Writes the text of parts and a NUL; gives the length (kUniqueIdLength).
size_t formatUniqueId(const UniqueIdParts &parts, char (&text)[48]);
// Whether text is exactly the text of some parts (which it then gives).
bool parseUniqueId(const char *text, size_t length, UniqueIdParts *parts);

}  // namespace kx
