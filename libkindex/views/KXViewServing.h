/* What a client-side view may ask of the server-side endpoint of a view, and nothing more:
 * the endpoint is vended only behind an NSProtocolChecker for this protocol.
 *
 * Records travel as batches coded by KXCodec, values as coded values, records and groups are
 * named by uid. Every call is one round trip, and every answer is data, strings or numbers:
 * nothing a server sends back is a proxy.
 */
#ifndef KINDEX_KXVIEWSERVING_H
#define KINDEX_KXVIEWSERVING_H

#import <Foundation/Foundation.h>

@protocol KXViewServing
- (NSData *)peopleData;
- (NSData *)groupsData;
/* A batch of one record, or an empty batch. */
- (NSData *)dataForRecordWithId:(NSString *)uid;
- (NSData *)membersDataOfGroupWithId:(NSString *)uid;
- (NSData *)parentGroupsDataOfRecordWithId:(NSString *)uid;

/* value is the new value, base the value the client's record held before the change: what
 * the merge of the view's save takes the client to have seen (book/RecordChange.h). */
- (BOOL)setValueData:(NSData *)value
            baseData:(NSData *)base
         forProperty:(NSString *)property
      ofRecordWithId:(NSString *)uid;
/* A batch of exactly one new record. */
- (BOOL)addRecordData:(NSData *)data;
- (BOOL)removeRecordWithId:(NSString *)uid;
- (BOOL)addMemberWithId:(NSString *)memberId toGroupWithId:(NSString *)groupId;
- (BOOL)removeMemberWithId:(NSString *)memberId fromGroupWithId:(NSString *)groupId;
/* Saves the view's changes; the outcome as a binary property list (data cross by copy):
 * a dictionary with "code" (a number: 0 saved, else a KXErrorCode), "description" (the
 * error's, for a failure, or the conflicts' when saved), and for a save "merged" and
 * "dropped" (arrays of uids, see KXError.h). */
- (NSData *)saveOutcome;
- (BOOL)hasUnsavedChanges;
- (BOOL)isReadOnly;
@end

#endif
