/* A view of another book, as a server hands it to a client.
 *
 * A view is made of a KXLocalAddressBook (-initWithAddressBook:readOnly: gives nil for any
 * other book) and shows what the book's store holds, not the book's own unsaved changes.
 * Each view has unsaved changes of its own: nobody else sees them (not the book, not other
 * views, not other processes) until the view saves, and its -save writes its own changes
 * alone, merged with what others saved (see KXAddressBook.h). A view that goes away unsaved
 * takes its changes with it. -hasUnsavedChanges answers for the view.
 *
 * A view hands out records of its own, bound to it (they keep it alive): a new record on
 * every read, showing the view's changes. A read-only view answers every query and refuses
 * every change, NO or nil, made through it or through any record or group it handed out;
 * the book and its storage stay as they were. A read-write view keeps the changes made
 * through it and its records until it saves them.
 *
 * Sent over GNUstep Distributed Objects, a view arrives as a view of the same kind that
 * talks to the server's view, fetching records in bulk: the view and its unsaved changes
 * stay on the server, for as long as the client holds the view. The server checks every
 * change itself, so a read-only view stays read-only whatever the client sends.
 */
#ifndef KINDEX_KXPUBLICADDRESSBOOK_H
#define KINDEX_KXPUBLICADDRESSBOOK_H

#import <Kindex/KXAddressBook.h>
#import <Kindex/KXError.h>

@interface KXPublicAddressBook : KXAddressBook <NSCoding> {
  BOOL _readOnly;
}

/* Nil when book is not a KXLocalAddressBook. */
- (id)initWithAddressBook:(KXAddressBook *)book readOnly:(BOOL)readOnly;
/* Answered without asking a server. */
- (BOOL)isReadOnly;

@end

/* A view received over Distributed Objects whose server is gone (its process ended, the
 * connection was lost, or a request went unanswered for longer than the view waits) says so
 * rather than answer as an empty book, and stays gone:
 *
 * - these raise an NSException named KXServerGoneException, as a proxy's methods raise:
 *   -people, -groups, -recordForUniqueId:, -addRecord:, -removeRecord:, -save and
 *   -hasUnsavedChanges, and of the records it handed out -setValue:forProperty:,
 *   -removeValueForProperty:, and a group's -members, -addMember:, -removeMember: and a
 *   person's -parentGroups (a change a read-only view refuses by itself raises nothing);
 * - -saveAndReturnError: and -saveReturningConflicts:error: give NO and KXErrorServerGone;
 * - -isReadOnly answers as ever.
 *
 * Catch with @catch (id) in Objective-C++ (GCC's @catch (NSException *) crashes there). The
 * view's unsaved changes were on the server and went with it. */

/* A view of the book a server serves over Distributed Objects (bookd, or any program that
 * vends an object conforming to KXSimpleAddressBookServing on a socket port), in one call:
 *
 *   NSError *error = nil;
 *   KXPublicAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1" port:7001
 *                                    readOnly:YES password:@"looker" error:&error];
 *   if (view == nil) NSLog(@"%@", [error localizedDescription]);
 *
 * Gives the view, autoreleased, or nil with *error (when error is not NULL) set to an error
 * of KXError.h: KXErrorAddressUnusable, KXErrorNoServer or KXErrorPasswordRefused.
 *
 * The call opens a connection of the view's own, which the view keeps open for as long as it
 * lives (the records it hands out keep it alive) and closes when it goes; the server keeps
 * the view's unsaved changes until then. Every request through the view waits at most 15 s to
 * be sent and 60 s for its answer; a request that runs out of time, or finds the server gone,
 * leaves the view gone (see above). Nagle's algorithm is off on the connection (see
 * KXConnectionTuning.h).
 *
 * GNUstep's socket ports connect over IPv4 only: a host is a name or a dotted IPv4 address,
 * and a name is reached at its first IPv4 address. An IPv6 address, or a name that has only
 * IPv6 addresses, gives KXErrorAddressUnusable.
 */
@interface KXPublicAddressBook (Server)

+ (KXPublicAddressBook *)viewOfServerAtHost:(NSString *)host
                                       port:(int)port
                                   readOnly:(BOOL)readOnly
                                   password:(NSString *)password
                                      error:(NSError **)error;

/* The same, with timeout (in seconds) bounding both the sending of each request and the wait
 * for its answer, the handshake included; 0 or less keeps the times above. */
+ (KXPublicAddressBook *)viewOfServerAtHost:(NSString *)host
                                       port:(int)port
                                   readOnly:(BOOL)readOnly
                                   password:(NSString *)password
                                    timeout:(NSTimeInterval)timeout
                                      error:(NSError **)error;

@end

#endif
