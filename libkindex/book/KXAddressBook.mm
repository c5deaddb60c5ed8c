#import <Kindex/KXAddressBook.h>
#import <Kindex/KXLocalAddressBook.h>
#import "KXPrivate.h"

@implementation KXAddressBook

+ (KXAddressBook *)sharedAddressBook {
  // Made once per process; a failed attempt is tried again on the next call.
  static KXAddressBook *shared = nil;
  @synchronized([KXAddressBook class]) {
    if (shared == nil) {
      NSString *location = [KXLocalAddressBook sharedAddressBookLocation];
      NSFileManager *files = [NSFileManager defaultManager];
      if (location != nil && [files createDirectoryAtPath:location
                                 withIntermediateDirectories:YES
                                                  attributes:nil
                                                       error:NULL]) {
        shared = [[KXLocalAddressBook alloc] initWithLocation:location];
      }
      if (shared == nil) NSLog(@"Kindex: cannot open the shared address book at %@", location);
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
