/* The object bookd vends: it grants read-only and read-write views of the served book
 * against the two passwords, and carries the socket login service (SocketService category). */
#ifndef BOOKD_ADDRESSBOOKSERVER_H
#define BOOKD_ADDRESSBOOKSERVER_H

#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

@class FileHandleAuth;

@interface AddressBookServer : NSObject <KXSimpleAddressBookServing>
{
  KXAddressBook *_book;
  NSString *_roPwd;
  NSString *_rwPwd;
  NSFileHandle *_handle;
  NSMutableArray *_connections;   /* FileHandleAuth records, in accept order */
  NSMapTable *_connectionIndex;   /* connection handle -> its record in _connections */
  BOOL _acceptFailing;            /* accepts fail (say, out of descriptors); retried by timer */
}

- (id)initWithAddressBook:(KXAddressBook *)book
         readOnlyPassword:(NSString *)roPwd
        readWritePassword:(NSString *)rwPwd
       socketServerAtPort:(int)port;

- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth;
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth;

@end

/* The socket login service; its set-up is the last step of the initialiser. */
@interface AddressBookServer (SocketService)
/* Opens the listening socket on port (nothing for -1) and registers the two handlers. */
- (void)startSocketServiceAtPort:(int)port;
- (void)acceptConnection:(NSNotification *)notification;
- (void)handleDataOnConnection:(NSNotification *)notification;
- (void)handleInput:(NSString *)input withAuth:(FileHandleAuth *)auth;
/* The open connections' records, in accept order; for tests and diagnostics. */
- (NSArray *)connections;
/* The port the service listens on (the one the system chose for port 0), or -1 when the
 * service is off. */
- (int)socketServicePort;
@end

#endif
