#import <Kindex/KXPublicAddressBook.h>
#import "views/KXLocalView.h"
#import "views/KXRemoteView.h"

// A class cluster: what -initWithAddressBook:readOnly: makes is a KXLocalView, what arrives
// over a connection a KXRemoteView; both are KXPublicAddressBooks.
@implementation KXPublicAddressBook

+ (id)allocWithZone:(NSZone *)zone {
  if (self == [KXPublicAddressBook class]) return NSAllocateObject([KXLocalView class], 0, zone);
  return [super allocWithZone:zone];
}

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly {
  [self release];
  return nil;
}

- (BOOL)isReadOnly {
  return _readOnly;
}

// Whichever half is sent, the other side decodes a received view.
- (Class)classForCoder {
  return [KXRemoteView class];
}

// A view travels by copy: see the halves' -encodeWithCoder:.
- (id)replacementObjectForPortCoder:(NSPortCoder *)coder {
  return self;
}

- (void)encodeWithCoder:(NSCoder *)coder {
  id nothing = nil;
  [coder encodeValueOfObjCType:@encode(BOOL) at:&_readOnly];
  [coder encodeObject:nothing];
}

- (id)initWithCoder:(NSCoder *)coder {
  [self release];
  return nil;
}

@end
