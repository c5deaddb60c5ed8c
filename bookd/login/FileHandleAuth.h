/* The record of one open connection of the socket login service: the connection's handle
 * and the two permissions its last successful "auth" granted. The record owns the handle,
 * and the handle closes the connection when it goes; a record equals only itself. */
#ifndef BOOKD_FILEHANDLEAUTH_H
#define BOOKD_FILEHANDLEAUTH_H

#import <Foundation/Foundation.h>

@interface FileHandleAuth : NSObject
{
  BOOL _readOK;
  BOOL _writeOK;
  NSFileHandle *_handle;
}

/* Both permissions start false. */
- (id)initWithFileHandle:(NSFileHandle *)handle;

/* The connection, without a new reference for the caller. */
- (NSFileHandle *)fileHandle;
- (BOOL)isReadOK;
- (BOOL)isWriteOK;
- (void)setReadOK:(BOOL)readOK writeOK:(BOOL)writeOK;

@end

#endif
