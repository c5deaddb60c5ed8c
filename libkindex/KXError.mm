#import "KXMakeError.h"

#include <cerrno>

#include "store/Store.h"

NSString *const KXErrorDomain = @"KXErrorDomain";
NSString *const KXMergedRecordIdsKey = @"KXMergedRecordIds";
NSString *const KXDroppedRecordIdsKey = @"KXDroppedRecordIds";
NSString *const KXServerGoneException = @"KXServerGoneException";

void KXMakeError(NSError **error, KXErrorCode code, NSString *description) {
  if (error != NULL) {
    NSDictionary *info = [NSDictionary dictionaryWithObject:description forKey:NSLocalizedDescriptionKey];
    *error = [NSError errorWithDomain:KXErrorDomain code:code userInfo:info];
  }
}

void KXMakeStoreError(NSError **error, const kx::Status &status, NSString *location, bool writing) {
  if (error == NULL) return;
  NSString *path =
      [location stringByAppendingPathComponent:[NSString stringWithUTF8String:kx::Store::fileName()]];
  NSString *detail = [NSString stringWithUTF8String:status.message().c_str()];
  switch (status.kind()) {
    case kx::Status::kBusy:
      KXMakeError(error, KXErrorBusy,
                  [NSString stringWithFormat:@"another program is saving the book in %@", location]);
      return;
    case kx::Status::kPermission:
      KXMakeError(
          error, KXErrorPermissionDenied,
          [NSString stringWithFormat:@"permission denied %@ %@", writing ? @"writing" : @"reading", path]);
      return;
    case kx::Status::kReadOnly:
      KXMakeError(error, KXErrorPermissionDenied,
                  status.systemErrno() == EROFS
                      ? [NSString stringWithFormat:@"%@ is on a file system mounted read-only", path]
                      : [NSString stringWithFormat:@"permission denied writing %@", path]);
      return;
    case kx::Status::kNotFound:
      KXMakeError(error, KXErrorNotABook,
                  [NSString stringWithFormat:@"there is no address book in %@", location]);
      return;
    case kx::Status::kNotOurs:
      KXMakeError(error, KXErrorNotABook, [NSString stringWithFormat:@"%@ is not an address book", path]);
      return;
    case kx::Status::kNewerVersion:
      KXMakeError(error, KXErrorNotABook,
                  [NSString stringWithFormat:@"%@ is an address book of a newer version of Kindex", path]);
      return;
    case kx::Status::kCorruption:
      KXMakeError(error, KXErrorCorrupt,
                  [NSString stringWithFormat:@"the address book %@ is damaged and cannot be read", path]);
      return;
    case kx::Status::kNotAtVersion:
      KXMakeError(error, KXErrorNotAtVersion,
                  [NSString stringWithFormat:@"cannot save to %@: %@", location, detail]);
      return;
    case kx::Status::kNameTaken:
      KXMakeError(error, KXErrorNameTaken,
                  [NSString stringWithFormat:@"cannot save to %@: %@", location, detail]);
      return;
    case kx::Status::kFull:
      KXMakeError(error, KXErrorDiskFull,
                  status.systemErrno() == EFBIG
                      ? [NSString stringWithFormat:@"%@ has reached the largest file size allowed", path]
                      : [NSString stringWithFormat:@"the disk is full (writing %@)", path]);
      return;
    default:
      KXMakeError(
          error, KXErrorIOFailed,
          [NSString stringWithFormat:@"cannot %@ %@: %@", writing ? @"write" : @"read", path, detail]);
      return;
  }
}

NSError *KXConflictError(NSArray *mergedIds, NSArray *droppedIds) {
  NSUInteger merged = [mergedIds count], dropped = [droppedIds count];
  if (merged == 0 && dropped == 0) return nil;
  NSMutableArray *parts = [NSMutableArray array];
  if (merged > 0) {
    [parts addObject:[NSString stringWithFormat:@"%lu %@ merged with changes saved by others",
                                                (unsigned long)merged,
                                                merged == 1 ? @"record was" : @"records were"]];
  }
  if (dropped > 0) {
    [parts addObject:[NSString stringWithFormat:@"changes to %lu %@ dropped because others removed %@",
                                                (unsigned long)dropped,
                                                dropped == 1 ? @"record were" : @"records were",
                                                dropped == 1 ? @"it" : @"them"]];
  }
  NSDictionary *info = [NSDictionary
      dictionaryWithObjectsAndKeys:[parts componentsJoinedByString:@"; "], NSLocalizedDescriptionKey,
                                   mergedIds != nil ? mergedIds : [NSArray array], KXMergedRecordIdsKey,
                                   droppedIds != nil ? droppedIds : [NSArray array], KXDroppedRecordIdsKey,
                                   nil];
  return [NSError errorWithDomain:KXErrorDomain code:KXErrorConflict userInfo:info];
}
