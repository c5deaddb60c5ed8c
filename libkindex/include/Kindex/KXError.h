/* The errors of the Kindex library.
 *
 * A call that can fail for more than one reason takes an NSError ** as its last argument.
 * On failure it sets it, when it is not NULL, to an autoreleased error in KXErrorDomain: the
 * code says what went wrong, for a program to act on; -localizedDescription says it in one
 * plain line (no trailing period or line break) that names what failed, fit to show a user as
 * it is.
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
  /* A vCard that cannot be applied to the book (see KXVCard.h). */
  KXErrorCardRefused = 4,
};

#endif
