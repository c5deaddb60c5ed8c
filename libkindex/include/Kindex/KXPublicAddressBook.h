/* A view of another book, as a server hands it to a client.
 *
 * A read-only view answers every query and refuses every change, NO or nil, made through
 * it or through any record or group it handed out; the book and its storage stay as they
 * were. A read-write view passes changes to the book it wraps, and its -save saves that
 * book.
 *
 * Sent over GNUstep Distributed Objects, a view arrives as a view of the same kind that
 * talks to the server's book, fetching records in bulk; the server checks every change
 * itself, so a read-only view stays read-only whatever the client sends.
 */
#ifndef KINDEX_KXPUBLICADDRESSBOOK_H
#define KINDEX_KXPUBLICADDRESSBOOK_H

#import <Kindex/KXAddressBook.h>

@interface KXPublicAddressBook : KXAddressBook <NSCoding>
{
  KXAddressBook *_book;   /* the wrapped book, on the side that made the view */
  id _remote;             /* the server's side, on a client that received the view */
  BOOL _readOnly;
}

- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly;
- (BOOL)isReadOnly;

@end

#endif
