/* How the library makes the errors of KXError.h. */
#ifndef KINDEX_KXMAKEERROR_H
#define KINDEX_KXMAKEERROR_H

#import <Kindex/KXError.h>

/* Sets *error, when error is not NULL, to an autoreleased error of KXErrorDomain with code
 * and description (one plain line) as its localized description. */
void KXMakeError(NSError **error, KXErrorCode code, NSString *description);

#endif
