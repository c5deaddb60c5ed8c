/* How the library makes the errors of KXError.h: the one place where a store's failure or a
 * refusal becomes an NSError a caller sees. */
#ifndef KINDEX_KXMAKEERROR_H
#define KINDEX_KXMAKEERROR_H

#import <Kindex/KXError.h>

namespace kx {
class Status;
}

/* Sets *error, when error is not NULL, to an autoreleased error of KXErrorDomain with code
 * and description (one plain line) as its localized description. */
void KXMakeError(NSError **error, KXErrorCode code, NSString *description);

/* The same for a failed store operation on the book in the directory location: the code and
 * the words follow the status's kind; writing says whether the operation was meant to write
 * (a refused permission is then one to write). */
void KXMakeStoreError(NSError **error, const kx::Status &status, NSString *location, bool writing);

/* The report of a save that merged or dropped changes: nil when both lists are empty. */
NSError *KXConflictError(NSArray *mergedIds, NSArray *droppedIds);

#endif
