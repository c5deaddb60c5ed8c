#import <Kindex/KXAddressBook.h>
#import <Kindex/KXLocalAddressBook.h>
#import "KXPrivate.h"
#import "KXMakeError.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// Makes path and the directories above it that are missing (with the permissions the umask
// leaves, as NSFileManager would); the errno of the first failure, or 0.
int makeDirectories(NSString *path) {
  NSArray *parts = [path pathComponents];
  NSString *made = @"";
  for (NSUInteger i = 0; i < [parts count]; i++) {
    made = [made stringByAppendingPathComponent:[parts objectAtIndex:i]];
    if (::mkdir([made fileSystemRepresentation], 0777) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

@implementation KXAddressBook

+ (KXAddressBook *)sharedAddressBook {
  return [self sharedAddressBookReturningError:NULL];
}

+ (KXAddressBook *)sharedAddressBookReturningError:(NSError **)error {
  // Made once per process; a failed attempt is tried again on the next call.
  static KXAddressBook *shared = nil;
  @synchronized([KXAddressBook class]) {
    if (shared == nil) {
      NSString *location = [KXLocalAddressBook sharedAddressBookLocation];
      int failure = location != nil ? makeDirectories(location) : 0;
      if (location == nil) {
        KXMakeError(error, KXErrorNotABook, @"GNUstep names no Library directory for this user");
      } else if (failure == ENOTDIR) {
        KXMakeError(
            error, KXErrorNotABook,
            [NSString stringWithFormat:@"cannot make the directory %@: a file stands in its path", location]);
      } else if (failure == EACCES || failure == EPERM || failure == EROFS) {
        KXMakeError(error, KXErrorPermissionDenied,
                    [NSString stringWithFormat:@"permission denied making the directory %@", location]);
      } else if (failure != 0) {
        KXMakeError(
            error, KXErrorIOFailed,
            [NSString stringWithFormat:@"cannot make the directory %@: %s", location, strerror(failure)]);
      } else {
        shared = [[KXLocalAddressBook alloc] initWithLocation:location error:error];
      }
    }
  }
  return shared;
}

- (NSArray *)people {
  return [NSArray array];
}

- (NSArray *)groups {
  return [NSArray array];
}

- (KXRecord *)recordForUniqueId:(NSString *)uniqueId {
  return nil;
}

- (BOOL)addRecord:(KXRecord *)record {
  return NO;
}

- (BOOL)removeRecord:(KXRecord *)record {
  return NO;
}

- (BOOL)save {
  return [self saveAndReturnError:NULL];
}

- (BOOL)saveAndReturnError:(NSError **)error {
  return [self saveReturningConflicts:NULL error:error];
}

- (BOOL)saveReturningConflicts:(NSError **)conflicts error:(NSError **)error {
  if (conflicts != NULL) *conflicts = nil;
  KXMakeError(error, KXErrorReadOnly, @"this address book takes no changes");
  return NO;
}

- (BOOL)hasUnsavedChanges {
  return NO;
}

- (BOOL)_record:(KXRecord *)record willSetValue:(id)value forProperty:(NSString *)property {
  return NO;
}

- (BOOL)_group:(KXGroup *)group willAddMember:(KXRecord *)member {
  return NO;
}

- (BOOL)_group:(KXGroup *)group willRemoveMember:(KXRecord *)member {
  return NO;
}

- (NSArray *)_membersOfGroup:(KXGroup *)group {
  return [NSArray array];
}

- (NSArray *)_parentGroupsOfRecord:(KXRecord *)record {
  return [NSArray array];
}

@end
