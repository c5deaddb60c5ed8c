/* The errors of the Kindex library.
 *
 * A call that can fail for more than one reason takes an NSError ** as its last argument.
 * On failure it sets it, when it is not NULL, to an autoreleased error in KXErrorDomain: the
 * code says what went wrong, for a program to act on; -localizedDescription says it in one
 * plain line (no trailing period or line break) that names what failed, fit to show a user as
 * it is or after a program's own words ("cannot open the book: permission denied reading
 * /srv/book/book.sqlite").
 *
 * Clients compile the codes in: a code keeps its number for ever, and new codes go at the end.
 */
#ifndef KINDEX_KXERROR_H
#define KINDEX_KXERROR_H

#import <Foundation/Foundation.h>
#import <Kindex/KXProperties.h>

KX_EXPORT NSString *const KXErrorDomain;

typedef NS_ENUM(NSInteger, KXErrorCode) {
  /* The host is unknown, or cannot be reached the way GNUstep's socket ports connect (IPv4
   * only), or the port is not one from 1 to 65535. */
  KXErrorAddressUnusable = 1,
  /* Nothing at that host and port answers as an address-book server. */
  KXErrorNoServer = 2,
  /* The server refused the password for the access asked for. */
  KXErrorPasswordRefused = 3,
  /* Another program held the book (saving, or opening it for the first time) for longer
   * than a book waits, 10 seconds. Trying again later may succeed. */
  KXErrorBusy = 4,
  /* The system refused to let this program read or write the book's directory or file:
   * its permissions, or a file system mounted read-only. */
  KXErrorPermissionDenied = 5,
  /* The location holds no address book and cannot become one: it does not exist, it is a
   * file rather than a directory, it is a directory holding other things, or its store is
   * another program's file, or an address book of a newer version of this library. The
   * location is left as it was. */
  KXErrorNotABook = 6,
  /* The location holds an address book of this library that cannot be read: its file is
   * damaged. Nothing is written to it. */
  KXErrorCorrupt = 7,
  /* The disk is full, or the book's file reached the largest size the system allows this
   * program (the file-size limit). The book holds what it held before the failed save. */
  KXErrorDiskFull = 8,
  /* Any other failure of the system to read or write the book (the description says which). */
  KXErrorIOFailed = 9,
  /* The book or view refuses changes: a read-only view. */
  KXErrorReadOnly = 10,
  /* Not a failure: a save succeeded, and merged its changes with what others had saved, or
   * dropped some of them (see -[KXAddressBook saveReturningConflicts:error:]). */
  KXErrorConflict = 11,
  /* The server of a view received over Distributed Objects is gone: its process ended, the
   * connection was lost or closed, or a request went unanswered for longer than the view
   * waits. The view's unsaved changes went with the server; the view stays gone. */
  KXErrorServerGone = 12,
  /* A vCard that cannot be applied to the book (see KXVCard.h). */
  KXErrorCardRefused = 13,
  /* A save that required records at given versions (-[KXPublicAddressBook
   * saveRequiringVersions:error:], KXSync.h) found one at another version, present where it
   * had to be absent, or absent where it had to be present: someone else saved it first.
   * Nothing was written; the view keeps its changes. */
  KXErrorNotAtVersion = 14,
  /* A save that gives a record a resource name (KXSync.h) found the name held by another
   * record. Nothing was written; the view keeps its changes. */
  KXErrorNameTaken = 15,
};

/* In the userInfo of a KXErrorConflict error: NSArrays of the unique ids (NSString) of records.
 * Merged: records this save changed that another save had also changed since this book or
 * view read them; the changes were merged property by property (the later save winning
 * where both changed the same property or multi-value entry). Dropped: records another save
 * removed; this save's changes to them were dropped, and the records stay removed. */
KX_EXPORT NSString *const KXMergedRecordIdsKey;
KX_EXPORT NSString *const KXDroppedRecordIdsKey;

/* The name of the exception that the plain methods of a view received over Distributed
 * Objects raise when its server is gone (see KXPublicAddressBook.h); the NSError forms give
 * KXErrorServerGone instead. */
KX_EXPORT NSString *const KXServerGoneException;

#endif
