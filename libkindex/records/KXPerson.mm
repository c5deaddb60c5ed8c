#import <Kindex/KXRecord.h>
#import "KXPrivate.h"

@implementation KXPerson

- (int)_kind {
  return KXRecordKindPerson;
}

- (NSArray *)parentGroups {
  return _book != nil ? [_book _parentGroupsOfRecord:self] : [NSArray array];
}

@end
