/* What a client-side view may ask of the server-side endpoint of a view, and nothing more:
 * the endpoint is vended only behind an NSProtocolChecker for this protocol.
 *
 * Records travel as batches coded by KXCodec, values as coded values, records and groups are
 * named by uid. Every call is one round trip.
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

- (BOOL)setValueData:(NSData *)value forProperty:(NSString *)property ofRecordWithId:(NSString *)uid;
/* A batch of exactly one new record. */
- (BOOL)addRecordData:(NSData *)data;
- (BOOL)removeRecordWithId:(NSString *)uid;
- (BOOL)addMemberWithId:(NSString *)memberId toGroupWithId:(NSString *)groupId;
- (BOOL)removeMemberWithId:(NSString *)memberId fromGroupWithId:(NSString *)groupId;
- (BOOL)save;
- (BOOL)hasUnsavedChanges;
- (BOOL)isReadOnly;
@end

#endif
