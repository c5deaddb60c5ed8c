#import "BookDescription.h"
#import "Address.h"
#import "AddressBook.h"
#import "Group.h"
#import "Stranger.h"

namespace {

struct Builder {
  NSMutableDictionary *labelled;
  NSString *error;

  id node(id description, NSString *defaultKind);
  NSMutableArray *list(id description, NSString *defaultKind);
  id fail(NSString *why) {
    if (error == nil) error = why;
    return nil;
  }
};

NSMutableArray *Builder::list(id description, NSString *defaultKind) {
  if (description == nil) return nil;
  if (![description isKindOfClass:[NSArray class]])
    return fail([NSString stringWithFormat:@"not a list: %@", description]);
  NSMutableArray *result = [NSMutableArray array];
  for (NSUInteger i = 0; i < [description count]; i++) {
    id element = node([description objectAtIndex:i], defaultKind);
    if (element == nil) return nil;
    [result addObject:element];
  }
  return result;
}

id Builder::node(id description, NSString *defaultKind) {
  if (![description isKindOfClass:[NSDictionary class]])
    return fail([NSString stringWithFormat:@"not a node: %@", description]);
  NSString *ref = [description objectForKey:@"ref"];
  if (ref != nil) {
    id target = [labelled objectForKey:ref];
    return target != nil ? target : fail([NSString stringWithFormat:@"unknown ref %@", ref]);
  }

  NSString *kind = [description objectForKey:@"class"];
  if (kind == nil) kind = defaultKind;
  id object = nil;
  if ([kind isEqualToString:@"AddressBook"]) {
    id groups = [description objectForKey:@"groups"];
    NSMutableArray *all = list(groups, @"Group");
    if (groups != nil && all == nil) return nil;
    object = [[[AddressBook alloc] initWithGroups:all] autorelease];
  } else if ([kind isEqualToString:@"Group"]) {
    // Labelled before its entries are built, so that an entry may refer to the group.
    Group *group = [[[Group alloc] initWithName:[description objectForKey:@"name"]
                                    addressList:nil] autorelease];
    NSString *label = [description objectForKey:@"id"];
    if (label != nil) [labelled setObject:group forKey:label];
    id entries = [description objectForKey:@"entries"];
    NSMutableArray *list_ = list(entries, @"Address");
    if (entries != nil && list_ == nil) return nil;
    [group setAddressList:list_];
    object = group;
  } else if ([kind isEqualToString:@"Address"]) {
    object = [[[Address alloc] initWithName:[description objectForKey:@"name"]
                               emailAddress:[description objectForKey:@"email"]] autorelease];
  } else if ([kind isEqualToString:@"String"]) {
    NSString *value = [description objectForKey:@"value"];
    object = [NSString stringWithString:value != nil ? value : @""];
  } else if ([kind isEqualToString:@"Stranger"]) {
    object = [[[Stranger alloc] init] autorelease];
  } else {
    return fail([NSString stringWithFormat:@"unknown class %@", kind]);
  }

  NSArray *fields = [description objectForKey:@"fields"];
  if (fields != nil && [object respondsToSelector:@selector(setFields:)]) [object setFields:fields];
  NSString *label = [description objectForKey:@"id"];
  if (label != nil) [labelled setObject:object forKey:label];
  return object;
}

}  // namespace

id buildBookFromDescription(id description, NSString **error) {
  Builder builder;
  builder.labelled = [NSMutableDictionary dictionary];
  builder.error = nil;
  id root = builder.node(description, @"AddressBook");
  if (root == nil && error != NULL) *error = builder.error;
  return root;
}
