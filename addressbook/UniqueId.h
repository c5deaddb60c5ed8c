// Unique ids of records and multi-value entries.
//
// An id is 32 hex digits and three dashes: microseconds since 1970 (16 digits), a random tag
// drawn once per process (8), and a per-process counter (8). Ids from one process sort in
// creation order, so a store's index on them grows at its end; the tag keeps two processes
// (or two hosts) that create ids in the same microsecond apart. A forked child draws a tag
// of its own.
#pragma once

#include <string>

namespace kx {

std::string newUniqueId();
// The same into text, without allocating; gives the length.
size_t newUniqueId(char (&text)[48]);

}  // namespace kx
