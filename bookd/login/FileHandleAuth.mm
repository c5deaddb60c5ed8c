#import "FileHandleAuth.h"

@implementation FileHandleAuth

- (id)initWithFileHandle:(NSFileHandle *)handle
{
  self = [super init];
  if (self == nil) return nil;
  _handle = [handle retain];
  _readOK = NO;
  _writeOK = NO;
  return self;
}

- (void)dealloc
{
  [_handle release];
  _handle = nil;
  [super dealloc];
}

- (NSFileHandle *)fileHandle
{
  return _handle;
}

- (BOOL)isReadOK
{
  return _readOK;
}

- (BOOL)isWriteOK
{
  return _writeOK;
}

- (void)setReadOK:(BOOL)readOK writeOK:(BOOL)writeOK
{
  _readOK = readOK;
  _writeOK = writeOK;
}

@end
