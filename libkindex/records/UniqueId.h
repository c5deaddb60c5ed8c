/* Unique ids of records and multi-value entries: how they are made, written and held.
 *
 * An id is 32 hex digits and three dashes: microseconds since 1970 (16 digits), a random tag
 * drawn once per process (8), and a per-process counter (8). Ids from one process sort in
 * creation order, so a store's index on them grows at its end; the tag keeps two processes
 * (or two hosts) that create ids in the same microsecond apart. A forked child draws a tag
 * of its own.
 *
 * The text is "%012llx-%04llx-%08x-%08x" of micros >> 16, micros & 0xffff, tag and counter:
 * lower-case digits, 35 characters.
 *
 * A book holds two ids per person (the record's and its e-mail entry's); as ordinary strings
 * of 35 characters they were a fifth of a large book's memory. The ids made here are
 * KXIdStrings: immutable NSStrings that keep only the id's numbers (16 bytes) and make their
 * characters when asked, equal to, hashing like and coded as the same text.
 */
#ifndef KINDEX_UNIQUEID_H
#define KINDEX_UNIQUEID_H

#import <Foundation/Foundation.h>

#include <cstddef>

namespace kx {
const size_t kUniqueIdLength = 35;
}  // namespace kx

/* A fresh unique id (retained: the caller releases it). */
NSString *KXNewOwnedUniqueId(void);
/* The id whose text is bytes (retained), or nil when bytes are not exactly such a text. */
NSString *KXIdStringFromText(const void *bytes, size_t length);
/* Whether object is one of the ids made here, which compare by their numbers. */
bool KXIsIdString(id object);
/* Writes the characters of text with a NUL when it is an id made here; false otherwise. */
bool KXIdStringText(NSString *text, char (&out)[48], size_t *length);

#endif
