#import "FileHandleAuth.h"

#include "NetAddress.h"

@implementation FileHandleAuth

- (id)initWithFileHandle:(NSFileHandle *)handle {
  self = [super init];
  if (self == nil) return nil;
  _handle = [handle retain];
  _peer = [[NSString alloc] initWithUTF8String:peerOfSocket([handle fileDescriptor]).c_str()];
  _readOK = NO;
  _writeOK = NO;
  return self;
}

- (void)dealloc {
  [_handle release];
  _handle = nil;
  [_peer release];
  _peer = nil;
  [super dealloc];
}

- (NSFileHandle *)fileHandle {
  return _handle;
}

- (NSString *)peerAddress {
  return _peer;
}

- (BOOL)isReadOK {
  return _readOK;
}

- (BOOL)isWriteOK {
  return _writeOK;
}

- (void)setReadOK:(BOOL)readOK writeOK:(BOOL)writeOK {
  _readOK = readOK;
  _writeOK = writeOK;
}

- (BOOL)wasRefusedUnchecked {
  return _refusedUnchecked;
}

- (void)setRefusedUnchecked:(BOOL)refused {
  _refusedUnchecked = refused;
}

@end
