/* The unique ids this library makes, as strings that hold only the id's numbers.
 *
 * A book holds two ids per person (the record's and its e-mail entry's); as ordinary
 * strings of 35 characters they were a fifth of a large book's memory. A KXIdString keeps
 * the 16 bytes of kx::UniqueIdParts and makes its characters when asked. It is an immutable
 * NSString in every other respect: equal to, hashing like, and coded as the same text.
 */
#ifndef KINDEX_KXIDSTRING_H
#define KINDEX_KXIDSTRING_H

#import <Foundation/Foundation.h>

#include "UniqueId.h"

@interface KXIdString : NSString
{
  kx::UniqueIdParts _parts;
}
@end

/* A fresh unique id (retained: the caller releases). */
NSString *KXNewIdString(void);
/* The id whose text is bytes (retained), or nil when bytes are not exactly such a text. */
NSString *KXIdStringFromText(const void *bytes, size_t length);
/* Writes text's characters as UTF-8 with a NUL when it is a KXIdString; false otherwise. */
bool KXIdStringText(NSString *text, char (&out)[48], size_t *length);

#endif
