/* Keeping something else in step with a book: what a sync server (bookd's CardDAV service is
 * one) or a mirror of a book needs, cheap at hundreds of thousands of records.
 *
 * The saved state. A book's store counts its saves: the save that commits is numbered one
 * more than the last (-saveCount after it). Every saved record carries the number of the save
 * that last wrote it, its version, which grows with each save of the record and never goes
 * back; a record removed and made again gets a new one. The state of a KXLocalAddressBook
 * moves on when it saves, or when it catches up with what others saved (another process, a
 * view): before each of its reads, or when told to with -catchUpWithSaves.
 *
 * A store also has an identity, made at random with it (a book of an older version gets one
 * when it is upgraded), so that a sync token of one book is never taken by another. A token
 * is the identity and a save count; the book refuses one of another book and one from its
 * future. (A copy of the store's file carries its identity along: a book put back from a
 * backup refuses the tokens of saves it has not reached, but takes older ones.)
 *
 * Resource names: a sync client names what it stores ("3F2A.vcf"); the book keeps the name
 * with the record, so that the client finds it under that name after a restart and in another
 * process. A name belongs to one record of the book at a time; it is given as part of a save
 * (-setResourceName:forUniqueId: on a view) and goes with the record's removal, after which
 * another record may take it. A record that no sync client named has none (nil, NULL): a
 * server names it after its unique id, say.
 *
 * Syncing, the usual round:
 *
 *   [book catchUpWithSaves];                           // cheap when nothing changed
 *   uint64_t since;
 *   if (![book getSaveCount:&since forSyncToken:token]) {
 *     // first sync, or a token not of this book: send everything
 *     [book enumerateSavedRecordsWithFunction:each context:&mine];
 *   } else {
 *     [book enumerateChangesSinceSaveCount:since written:each removed:gone context:&mine error:NULL];
 *   }
 *   token = [book syncToken];
 *
 * and writing, through an in-process view, so that the write merges with, and shows to, every
 * other user of the book:
 *
 *   KXPublicAddressBook *view = [[KXPublicAddressBook alloc] initWithAddressBook:book readOnly:NO];
 *   NSArray *made = [view applyVCards:cards];                    // or any other change
 *   [view setResourceName:@"3F2A.vcf" forUniqueId:[[made objectAtIndex:0] uniqueId]];
 *   NSDictionary *expected = [NSDictionary dictionaryWithObject:[NSNumber numberWithUnsignedLongLong:0]
 *                                                        forKey:[[made objectAtIndex:0] uniqueId]];
 *   if (![view saveRequiringVersions:expected error:&error]) ...  // KXErrorNotAtVersion: someone was first
 *
 * Everything here is for the thread that uses the book.
 */
#ifndef KINDEX_KXSYNC_H
#define KINDEX_KXSYNC_H

#import <Foundation/Foundation.h>
#import <Kindex/KXLocalAddressBook.h>
#import <Kindex/KXPublicAddressBook.h>

#include <stdint.h>

/* A saved record, as the book holds it. The pointers are the book's own: valid until the book
 * next catches up, saves or is changed, and not to be kept or changed. Texts are UTF-8 and not
 * NUL-terminated. */
typedef struct {
  const char *uniqueId;
  size_t uniqueIdLength;
  BOOL isGroup;
  /* The save that last wrote the record. */
  uint64_t version;
  /* When that save committed, in unix seconds. */
  int64_t modified;
  /* NULL when the record has no resource name. */
  const char *resourceName;
  size_t resourceNameLength;
} KXSavedRecordInfo;

typedef void (*KXSavedRecordFunction)(const KXSavedRecordInfo *info, void *context);
/* A removed record: its unique id, and the resource name it had (NULL when none). */
typedef void (*KXRemovedRecordFunction)(const char *uniqueId, size_t uniqueIdLength, const char *resourceName,
                                        size_t resourceNameLength, void *context);

/* For -saveRequiringVersions:error:, the versions that say "no such record" and "the record,
 * at whatever version". */
#define KXRecordAbsent ((uint64_t)0)
#define KXRecordAtAnyVersion UINT64_MAX

@interface KXLocalAddressBook (KXSync)

/* Takes in what other processes and views saved since the book last did. Costs no disk access
 * when nobody saved. */
- (void)catchUpWithSaves;
/* The saves of the store that the book's state reflects. */
- (uint64_t)saveCount;
/* The store's identity: letters and digits. */
- (NSString *)storeIdentity;
/* "<identity>-<save count>": letters, digits and one '-', at most 64 bytes. */
- (NSString *)syncToken;
/* The save count a token of this book names; NO for a token that is not one of this book's
 * (malformed, another book's) or names a save the book has not reached. */
- (BOOL)getSaveCount:(uint64_t *)saveCount forSyncToken:(NSString *)token;

/* The saved record of that unique id; NO when there is none. */
- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info forUniqueId:(NSString *)uniqueId;
/* The unique id of the saved record named name, or nil. */
- (NSString *)uniqueIdForResourceName:(NSString *)name;
/* The same two for text a server holds as UTF-8 bytes, without making objects: cheap enough
 * for every card a request names. */
- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info
          forUniqueIdBytes:(const char *)uniqueId
                    length:(size_t)length;
/* The saved record named name; NO when no record has that name. */
- (BOOL)getSavedRecordInfo:(KXSavedRecordInfo *)info
      forResourceNameBytes:(const char *)name
                    length:(size_t)length;
/* Calls function once for every saved record, in no promised order. */
- (void)enumerateSavedRecordsWithFunction:(KXSavedRecordFunction)function context:(void *)context;
/* After catching up: for each record removed by a save after saveCount, removed (each uid
 * once, with the name it had); then for each saved record written since, written. A record
 * removed and made again since comes through both. NO, and nothing called, for a count beyond
 * -saveCount (*error, when error is not NULL, is nil: the count is none the book gave out), or
 * when the store cannot be read (*error says why; see KXError.h). */
- (BOOL)enumerateChangesSinceSaveCount:(uint64_t)saveCount
                               written:(KXSavedRecordFunction)written
                               removed:(KXRemovedRecordFunction)removed
                               context:(void *)context
                                 error:(NSError **)error;

@end

/* Writing for a sync client: in-process views only (-[KXPublicAddressBook
 * initWithAddressBook:readOnly:]); a view received over Distributed Objects, or a read-only
 * one, refuses both (NO; KXErrorReadOnly). */
@interface KXPublicAddressBook (KXSync)

/* Gives the record the resource name as part of the view's next save, which fails with
 * KXErrorNameTaken, writing nothing, when another record holds the name by then. NO (and no
 * change) when the view shows no such record, the name is empty or not a string, or the
 * record has another name already: a name stays with its record until the record goes. */
- (BOOL)setResourceName:(NSString *)name forUniqueId:(NSString *)uniqueId;

/* -saveAndReturnError:, when each record named in versions (unique id -> NSNumber, or NSArray
 * of NSNumbers, of unsigned long long) is, in the store at the moment of the save, at one of
 * the versions given: KXRecordAbsent for none, KXRecordAtAnyVersion for any. Checked after
 * the save has the store to itself, so nothing slips in between. When one is not, the save
 * fails with KXErrorNotAtVersion and writes nothing; the view keeps its changes. Records not
 * named are merged as any save merges them. */
- (BOOL)saveRequiringVersions:(NSDictionary *)versions error:(NSError **)error;

@end

#endif
