/* The record of one open connection of the socket login service: the connection's handle,
 * its peer's address and the two permissions its last successful "auth" granted. The record
 * owns the handle, and the handle closes the connection when it goes; a record equals only
 * itself. */
#ifndef BOOKD_FILEHANDLEAUTH_H
#define BOOKD_FILEHANDLEAUTH_H

#import <Foundation/Foundation.h>

@interface FileHandleAuth : NSObject {
  BOOL _readOK;
  BOOL _writeOK;
  NSFileHandle *_handle;
  NSString *_peer;
  BOOL _refusedUnchecked; /* its last attempt was refused over its address's budget */
}

/* Both permissions start false; the peer is read from the handle's socket now. */
- (id)initWithFileHandle:(NSFileHandle *)handle;

/* The connection, without a new reference for the caller. */
- (NSFileHandle *)fileHandle;
/* The peer's address as NetAddress.h writes it; "" when the socket has none. */
- (NSString *)peerAddress;
- (BOOL)isReadOK;
- (BOOL)isWriteOK;
- (void)setReadOK:(BOOL)readOK writeOK:(BOOL)writeOK;
/* Whether the last "auth" of this connection was refused without its password being compared,
 * its address being over budget; the service reads such a connection's next input later. */
- (BOOL)wasRefusedUnchecked;
- (void)setRefusedUnchecked:(BOOL)refused;

@end

#endif
