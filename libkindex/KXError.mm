#import "KXMakeError.h"

NSString *const KXErrorDomain = @"KXErrorDomain";

void KXMakeError(NSError **error, KXErrorCode code, NSString *description) {
  if (error != NULL) {
    NSDictionary *info = [NSDictionary dictionaryWithObject:description forKey:NSLocalizedDescriptionKey];
    *error = [NSError errorWithDomain:KXErrorDomain code:code userInfo:info];
  }
}
