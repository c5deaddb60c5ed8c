// The sync API of KXSync.h over a book's saved state (book/KXBookState.h) and its views.
#import <Kindex/KXSync.h>
#import "book/KXBookState.h"
#import "views/KXLocalView.h"
#import "views/ViewState.h"
#import "KXMakeError.h"
#import "KXPrivate.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The versions one value of a -saveRequiringVersions: dictionary stands for; false when it is
// none of the forms the header names.
bool versionsOf(id value, std::vector<uint64_t> *versions) {
  if ([value isKindOfClass:[NSNumber class]]) {
    versions->push_back([value unsignedLongLongValue]);
    return true;
  }
  if (![value isKindOfClass:[NSArray class]] || [value count] == 0) return false;
  for (NSUInteger i = 0; i < [value count]; i++) {
    id version = [value objectAtIndex:i];
    if (![version isKindOfClass:[NSNumber class]]) return false;
    versions->push_back([version unsignedLongLongValue]);
  }
  return true;
}

}  // namespace

@implementation KXLocalAddressBook (KXSync)

- (void)catchUpWithSaves {
  [self _state]->catchUp();
}

- (uint64_t)saveCount {
  return [self _state]->seq();
}

- (NSString *)storeIdentity {
  return [NSString stringWithUTF8String:[self _state]->identity().c_str()];
}

- (NSString *)syncToken {
  return [NSString stringWithFormat:@"%s-%llu", [self _state]->identity().c_str(),
                                    (unsigned long long)[self _state]->seq()];
}

- (BOOL)getSaveCount:(uint64_t *)saveCount forSyncToken:(NSString *)token {
  if (![token isKindOfClass:[NSString class]]) return NO;
  const char *text = [token UTF8String];
  const std::string &identity = [self _state]->identity();
  if (text == nullptr || std::strncmp(text, identity.c_str(), identity.size()) != 0) return NO;
  const char *digits = text + identity.size();
  if (*digits++ != '-' || std::strlen(digits) == 0 || std::strlen(digits) > 20) return NO;
  for (const char *c = digits; *c != '\0'; c++) {
    if (*c < '0' || *c > '9') return NO;
  }
  errno = 0;
  unsigned long long count = std::strtoull(digits, nullptr, 10);
  if (errno != 0 || count > [self _state]->seq()) return NO;
  if (saveCount != NULL) *saveCount = count;
  return YES;
}

- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info forUniqueId:(NSString *)uniqueId {
  if (![uniqueId isKindOfClass:[NSString class]] || info == NULL) return NO;
  return [self _state]->savedInfo(kx::keyOf(uniqueId), info);
}

- (NSString *)uniqueIdForResourceName:(NSString *)name {
  if (![name isKindOfClass:[NSString class]]) return nil;
  const char *text = [name UTF8String];
  std::string_view uid = [self _state]->uidNamed(text != nullptr ? text : "");
  return uid.data() != nullptr ? [[[NSString alloc] initWithBytes:uid.data()
                                                           length:uid.size()
                                                         encoding:NSUTF8StringEncoding] autorelease]
                               : nil;
}

- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info
          forUniqueIdBytes:(const char *)uniqueId
                    length:(size_t)length {
  if (info == NULL || uniqueId == NULL) return NO;
  return [self _state]->savedInfo(std::string_view(uniqueId, length), info);
}

- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info
      forResourceNameBytes:(const char *)name
                    length:(size_t)length {
  if (info == NULL || name == NULL) return NO;
  std::string_view uid = [self _state]->uidNamed(std::string_view(name, length));
  return uid.data() != nullptr && [self _state]->savedInfo(uid, info);
}

- (void)enumerateSavedRecordsWithFunction:(KXSavedRecordFunction)function context:(void *)context {
  [self _state]->forEachSavedInfo([&](const KXSavedRecordInfo &info) { function(&info, context); });
}

- (BOOL)enumerateChangesSinceSaveCount:(uint64_t)saveCount
                               written:(KXSavedRecordFunction)written
                               removed:(KXRemovedRecordFunction)removed
                               context:(void *)context
                                 error:(NSError **)error {
  kx::Status status = [self _state]->changesSince(
      saveCount, [&](const KXSavedRecordInfo &info) { written(&info, context); },
      [&](const char *uid, size_t length, const char *name, size_t nameLength) {
        removed(uid, length, name, nameLength, context);
      });
  if (status.kind() == kx::Status::kInvalid) {
    // Not a failure of the book: a count it never gave out.
    if (error != NULL) *error = nil;
    return NO;
  }
  if (!status.isOk()) {
    KXMakeStoreError(error, status, [self location], false);
    return NO;
  }
  return YES;
}

@end

@implementation KXPublicAddressBook (KXSync)

- (BOOL)setResourceName:(NSString *)name forUniqueId:(NSString *)uniqueId {
  return NO;
}

- (BOOL)saveRequiringVersions:(NSDictionary *)versions error:(NSError **)error {
  KXMakeError(error, KXErrorReadOnly, @"only a read-write view in the book's own process saves this way");
  return NO;
}

@end

@implementation KXLocalView (KXSync)

- (BOOL)setResourceName:(NSString *)name forUniqueId:(NSString *)uniqueId {
  if (_readOnly || ![name isKindOfClass:[NSString class]] || [name length] == 0) return NO;
  if (![uniqueId isKindOfClass:[NSString class]]) return NO;
  _state->catchUp();
  return _state->setName(uniqueId, [name UTF8String]);
}

- (BOOL)saveRequiringVersions:(NSDictionary *)versions error:(NSError **)error {
  if (_readOnly) {
    KXMakeError(error, KXErrorReadOnly, @"this view of the address book is read-only");
    return NO;
  }
  std::vector<kx::Requirement> requirements;
  NSArray *uids = [versions allKeys];
  for (NSUInteger i = 0; i < [uids count]; i++) {
    NSString *uid = [uids objectAtIndex:i];
    kx::Requirement requirement;
    if (![uid isKindOfClass:[NSString class]] ||
        !versionsOf([versions objectForKey:uid], &requirement.versions)) {
      KXMakeError(error, KXErrorNotAtVersion,
                  @"the versions required are not unique ids and version numbers");
      return NO;
    }
    requirement.uid = kx::keyOf(uid);
    requirements.push_back(std::move(requirement));
  }
  kx::SaveReport report;
  kx::Status status = _state->save(&report, requirements);
  if (!status.isOk()) {
    KXMakeStoreError(error, status, [self _location], true);
    return NO;
  }
  return YES;
}

@end
