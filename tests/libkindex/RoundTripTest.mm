// What a book holds must come back unchanged after save and reopen: texts in any script,
// multi-values with their labels, identifiers and primary entry, postal addresses, group
// membership in order, and the unique ids everything refers to.
#include "BookTest.h"
#import "coding/KXCodec.h"

class RoundTripTest : public BookTest {};

TEST_F(RoundTripTest, PersonsAndMultiValuesSurviveReopen) {
  KXLocalAddressBook *book = newBook();
  KXPerson *p = person(@"Jürgen", @"Ødegård-日本", @"jürgen@example.org");
  KXMutableMultiValue *mails =
      [[[KXMutableMultiValue alloc] initWithMultiValue:[p valueForProperty:KXEmailProperty]] autorelease];
  NSString *home = [mails addValue:@"home@example.org" withLabel:KXEmailHomeLabel];
  [mails addValue:@"no-label@example.org" withLabel:nil];
  ASSERT_TRUE([mails setPrimaryIdentifier:home]);
  ASSERT_TRUE([p setValue:mails forProperty:KXEmailProperty]);
  KXMutableMultiValue *addresses = [[[KXMutableMultiValue alloc] init] autorelease];
  [addresses addValue:[NSDictionary dictionaryWithObjectsAndKeys:@"Hauptstraße 1", KXAddressStreetKey,
                                                                 @"Zürich", KXAddressCityKey, nil]
            withLabel:KXAddressWorkLabel];
  ASSERT_TRUE([p setValue:addresses forProperty:KXAddressProperty]);
  ASSERT_TRUE([p setValue:@"line one\nline two\t\"quoted\"" forProperty:KXNoteProperty]);
  ASSERT_TRUE([p setValue:@"custom" forProperty:@"X-Custom"]);
  // Long enough that its length needs a wider prefix than usual in the stored bytes.
  NSMutableString *longText = [NSMutableString string];
  for (int i = 0; i < 3000; i++) [longText appendString:@"Grüße 🌍 "];
  ASSERT_TRUE([p setValue:longText forProperty:@"X-Long"]);
  ASSERT_TRUE([book addRecord:p]);
  ASSERT_TRUE([book save]);
  EXPECT_FALSE([book hasUnsavedChanges]);

  KXLocalAddressBook *again = reopen(book);
  ASSERT_TRUE(again != nil);
  ASSERT_EQ(1u, [[again people] count]);
  KXRecord *back = [again recordForUniqueId:[p uniqueId]];
  ASSERT_TRUE(back != nil);
  EXPECT_TRUE([back isKindOfClass:[KXPerson class]]);
  NSArray *keys = [p properties];
  EXPECT_EQ([keys count], [[back properties] count]);
  for (NSUInteger i = 0; i < [keys count]; i++) {
    NSString *key = [keys objectAtIndex:i];
    EXPECT_TRUE([[p valueForProperty:key] isEqual:[back valueForProperty:key]])
        << S(key) << ": " << S([back valueForProperty:key]);
  }
  KXMultiValue *backMails = [back valueForProperty:KXEmailProperty];
  EXPECT_EQ(3u, [backMails count]);
  EXPECT_EQ(S(home), S([backMails primaryIdentifier]));
  EXPECT_EQ(S([mails identifierAtIndex:0]), S([backMails identifierAtIndex:0]));
  EXPECT_TRUE([backMails labelAtIndex:2] == nil);
  EXPECT_EQ(S(@"jürgen@example.org"), S([backMails valueAtIndex:0]));
}

TEST_F(RoundTripTest, GroupsKeepOrderedMembersAndSharedPersons) {
  KXLocalAddressBook *book = newBook();
  KXPerson *a = person(@"Ann", nil, nil), *b = person(@"Bob", nil, nil), *c = person(@"Cid", nil, nil);
  KXGroup *friends = group(@"Friends"), *work = group(@"Work"), *all = group(@"All");
  NSArray *records = [NSArray arrayWithObjects:a, b, c, friends, work, all, nil];
  for (NSUInteger i = 0; i < [records count]; i++) ASSERT_TRUE([book addRecord:[records objectAtIndex:i]]);
  // Added in an order that is not the order of creation.
  ASSERT_TRUE([friends addMember:c]);
  ASSERT_TRUE([friends addMember:a]);
  ASSERT_TRUE([work addMember:a]);
  ASSERT_TRUE([all addMember:friends]);
  ASSERT_TRUE([all addMember:b]);
  EXPECT_FALSE([friends addMember:c]) << "a member at most once";
  EXPECT_FALSE([friends addMember:friends]) << "no group inside itself";
  ASSERT_TRUE([book save]);

  KXLocalAddressBook *again = reopen(book);
  KXGroup *f = (KXGroup *)[again recordForUniqueId:[friends uniqueId]];
  KXGroup *w = (KXGroup *)[again recordForUniqueId:[work uniqueId]];
  KXGroup *l = (KXGroup *)[again recordForUniqueId:[all uniqueId]];
  EXPECT_TRUE([uids([f members]) isEqual:([NSArray arrayWithObjects:[c uniqueId], [a uniqueId], nil])]);
  EXPECT_TRUE([uids([w members]) isEqual:[NSArray arrayWithObject:[a uniqueId]]]);
  EXPECT_TRUE([uids([l members]) isEqual:([NSArray arrayWithObjects:[friends uniqueId], [b uniqueId], nil])]);
  KXPerson *ann = (KXPerson *)[again recordForUniqueId:[a uniqueId]];
  EXPECT_EQ(2u, [[ann parentGroups] count]);
  EXPECT_EQ(3u, [[again groups] count]);
  EXPECT_EQ(3u, [[again people] count]);
  EXPECT_EQ(S(@"Friends"), S([f valueForProperty:KXGroupNameProperty]));
}

TEST_F(RoundTripTest, RemovingARecordTakesItOutOfItsGroupsForGood) {
  KXLocalAddressBook *book = newBook();
  KXPerson *a = person(@"Ann", nil, nil), *b = person(@"Bob", nil, nil);
  KXGroup *g1 = group(@"One"), *g2 = group(@"Two");
  [book addRecord:a];
  [book addRecord:b];
  [book addRecord:g1];
  [book addRecord:g2];
  [g1 addMember:a];
  [g1 addMember:b];
  [g2 addMember:a];
  ASSERT_TRUE([book save]);

  KXLocalAddressBook *again = reopen(book);
  ASSERT_TRUE([again removeRecord:[again recordForUniqueId:[a uniqueId]]]);
  EXPECT_TRUE([again hasUnsavedChanges]);
  EXPECT_TRUE([again recordForUniqueId:[a uniqueId]] == nil);
  ASSERT_TRUE([again save]);

  KXLocalAddressBook *third = reopen(again);
  EXPECT_EQ(1u, [[third people] count]);
  KXGroup *one = (KXGroup *)[third recordForUniqueId:[g1 uniqueId]];
  KXGroup *two = (KXGroup *)[third recordForUniqueId:[g2 uniqueId]];
  EXPECT_TRUE([uids([one members]) isEqual:[NSArray arrayWithObject:[b uniqueId]]]);
  EXPECT_EQ(0u, [[two _memberIds] count]);
}

TEST_F(RoundTripTest, UnsavedChangesStayOutOfTheStore) {
  KXLocalAddressBook *book = newBook();
  KXPerson *kept = person(@"Kept", nil, nil);
  [book addRecord:kept];
  ASSERT_TRUE([book save]);
  [kept setValue:@"Changed" forProperty:KXFirstNameProperty];
  [book addRecord:person(@"Unsaved", nil, nil)];
  EXPECT_TRUE([book hasUnsavedChanges]);

  KXLocalAddressBook *other = reopen(book);
  EXPECT_EQ(1u, [[other people] count]);
  EXPECT_EQ(S(@"Kept"), S([[other recordForUniqueId:[kept uniqueId]] valueForProperty:KXFirstNameProperty]));
}

// A record added and removed again before a save, texts whose bytes are read back by
// different routes (short ASCII, long, with a NUL inside), and a uid longer than the
// library's own, as a peer may send a record with: all must come back exactly.
TEST_F(RoundTripTest, UnsavedRemovalsUnusualTextsAndLongUidsComeBack) {
  KXLocalAddressBook *book = newBook();
  KXPerson *a = person(@"Ann", nil, nil), *b = person(@"Bob", nil, nil), *c = person(@"Cid", nil, nil);
  [book addRecord:a];
  [book addRecord:b];
  [book addRecord:c];
  ASSERT_TRUE([b setValue:@"Bobby" forProperty:KXNicknameProperty]);
  ASSERT_TRUE([book removeRecord:b]);
  const unichar withNul[] = {'a', 0, 'b'};
  NSString *texts[] = {[@"" stringByPaddingToLength:255 withString:@"x" startingAtIndex:0],
                       [@"" stringByPaddingToLength:256 withString:@"y" startingAtIndex:0],
                       [NSString stringWithCharacters:withNul length:3], @"", @"é"};
  NSString *keys[] = {@"X-255", @"X-256", @"X-Nul", @"X-Empty", @"X-Accent"};
  for (int i = 0; i < 5; i++) ASSERT_TRUE([a setValue:texts[i] forProperty:keys[i]]);
  NSString *longUid = [@"peer-" stringByPaddingToLength:60 withString:@"0123456789" startingAtIndex:0];
  KXRecord *peer = kx::decodeRecord(KXRecordKindPerson, longUid, "\x00\x00", 2);
  ASSERT_TRUE(peer != nil);
  ASSERT_TRUE([book addRecord:[peer autorelease]]);
  ASSERT_TRUE([book save]);

  KXLocalAddressBook *again = reopen(book);
  EXPECT_EQ(3u, [[again people] count]);
  EXPECT_TRUE([again recordForUniqueId:[b uniqueId]] == nil);
  KXRecord *backA = [again recordForUniqueId:[a uniqueId]];
  for (int i = 0; i < 5; i++) {
    EXPECT_TRUE([texts[i] isEqualToString:[backA valueForProperty:keys[i]]]) << S(keys[i]);
  }
  ASSERT_TRUE([again recordForUniqueId:longUid] != nil);

  // The next save after one that dropped an unsaved record still writes every change.
  ASSERT_TRUE([[again recordForUniqueId:[c uniqueId]] setValue:@"Cyd" forProperty:KXFirstNameProperty]);
  ASSERT_TRUE([again removeRecord:[again recordForUniqueId:longUid]]);
  KXPerson *d = person(@"Dee", nil, nil);
  ASSERT_TRUE([again addRecord:d]);
  ASSERT_TRUE([again save]);
  KXLocalAddressBook *third = reopen(again);
  EXPECT_EQ(S(@"Cyd"), S([[third recordForUniqueId:[c uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_TRUE([third recordForUniqueId:[d uniqueId]] != nil);
  EXPECT_TRUE([third recordForUniqueId:longUid] == nil);
}

// Ids are kept compactly in memory, yet a client holding an id as ordinary text (typed in,
// sent by a peer, archived) must find the same record, dictionary entry and sort order.
TEST_F(RoundTripTest, IdsBehaveExactlyAsTheirText) {
  KXLocalAddressBook *book = newBook();
  KXPerson *p = person(@"Ann", nil, @"ann@example.org");
  ASSERT_TRUE([book addRecord:p]);
  ASSERT_TRUE([book save]);
  NSString *uid = [p uniqueId];
  NSString *text = [NSString stringWithUTF8String:[uid UTF8String]];
  NSString *entryId = [[p valueForProperty:KXEmailProperty] identifierAtIndex:0];
  ASSERT_EQ(35u, [uid length]);
  EXPECT_TRUE([uid isEqual:text] && [text isEqual:uid] && [text isEqualToString:uid]);
  EXPECT_EQ([text hash], [uid hash]);
  EXPECT_EQ(NSOrderedSame, [text compare:uid]);
  EXPECT_FALSE([uid isEqual:entryId]);
  EXPECT_TRUE([book recordForUniqueId:text] == p);
  NSDictionary *byText = [NSDictionary dictionaryWithObject:@"found" forKey:text];
  EXPECT_EQ(S(@"found"), S([byText objectForKey:uid]));
  id archived = [NSUnarchiver unarchiveObjectWithData:[NSArchiver archivedDataWithRootObject:uid]];
  EXPECT_TRUE([archived isEqual:uid]);
  EXPECT_EQ(S(text), S([uid substringFromIndex:0]));
  // Another case is another id.
  EXPECT_TRUE([book recordForUniqueId:[text uppercaseString]] == nil);

  KXLocalAddressBook *again = reopen(book);
  KXRecord *back = [again recordForUniqueId:text];
  ASSERT_TRUE(back != nil);
  EXPECT_TRUE([[back uniqueId] isEqual:uid]);
  EXPECT_EQ(S(entryId), S([[back valueForProperty:KXEmailProperty] identifierAtIndex:0]));
}

TEST_F(RoundTripTest, RecordsRefuseValuesTheirPropertyCannotHold) {
  KXPerson *p = [[KXPerson new] autorelease];
  KXMutableMultiValue *numbers = [[[KXMutableMultiValue alloc] init] autorelease];
  [numbers addValue:[NSNumber numberWithInt:3] withLabel:KXWorkLabel];
  struct {
    NSString *property;
    id value;
  } bad[] = {
      {KXFirstNameProperty, [NSNumber numberWithInt:1]},
      {KXFirstNameProperty, [[[KXMutableMultiValue alloc] init] autorelease]},
      {KXEmailProperty, @"not-a-multi-value@example.org"},
      {KXEmailProperty, numbers},
      {@"X-Custom", [NSArray array]},
      {nil, @"value"},
  };
  for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
    EXPECT_FALSE([p setValue:bad[i].value forProperty:bad[i].property]) << "row " << i;
  }
  EXPECT_EQ(0u, [[p properties] count]);
  // Setting nil removes.
  ASSERT_TRUE([p setValue:@"Ann" forProperty:KXFirstNameProperty]);
  ASSERT_TRUE([p setValue:nil forProperty:KXFirstNameProperty]);
  EXPECT_TRUE([p valueForProperty:KXFirstNameProperty] == nil);
}

TEST_F(RoundTripTest, StoredValuesAreCopiesTheCallerCannotChange) {
  KXPerson *p = [[KXPerson new] autorelease];
  NSMutableString *name = [NSMutableString stringWithString:@"Ann"];
  [p setValue:name forProperty:KXFirstNameProperty];
  [name appendString:@"-changed"];
  KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] init] autorelease];
  [mails addValue:@"a@example.org" withLabel:KXEmailWorkLabel];
  [p setValue:mails forProperty:KXEmailProperty];
  [mails addValue:@"b@example.org" withLabel:KXEmailWorkLabel];
  EXPECT_EQ(S(@"Ann"), S([p valueForProperty:KXFirstNameProperty]));
  KXMultiValue *stored = [p valueForProperty:KXEmailProperty];
  EXPECT_EQ(1u, [stored count]);
  EXPECT_FALSE([stored isKindOfClass:[KXMutableMultiValue class]]);
}

TEST_F(RoundTripTest, MembershipNeedsOneBook) {
  KXLocalAddressBook *one = newBook("one"), *two = newBook("two");
  KXGroup *g = group(@"G");
  KXPerson *outside = person(@"Out", nil, nil), *elsewhere = person(@"Else", nil, nil);
  [one addRecord:g];
  [two addRecord:elsewhere];
  EXPECT_FALSE([g addMember:outside]) << "a record in no book";
  EXPECT_FALSE([g addMember:elsewhere]) << "a record of another book";
  EXPECT_FALSE([group(@"Loose") addMember:elsewhere]) << "a group in no book";
  EXPECT_FALSE([two addRecord:g]) << "a record already in a book";
  EXPECT_FALSE([one addRecord:[[KXRecord new] autorelease]]) << "neither person nor group";
}

// A stored record removed and added back before a save replaces the stored one: what the
// object lost while out of the book is gone from the store too, and views see the stored
// version until the save.
TEST_F(RoundTripTest, ARemovedRecordAddedBackReplacesTheStoredOne) {
  KXLocalAddressBook *book = newBook();
  KXPerson *a = person(@"Ann", @"Lee", nil);
  KXGroup *g = group(@"Team");
  [book addRecord:a];
  [book addRecord:g];
  [g addMember:a];
  ASSERT_TRUE([book save]);
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book
                                                                       readOnly:YES] autorelease];

  ASSERT_TRUE([book removeRecord:a]);
  EXPECT_TRUE([view recordForUniqueId:[a uniqueId]] != nil) << "views show what is saved";
  ASSERT_TRUE([a setValue:@"Anna" forProperty:KXFirstNameProperty]);
  ASSERT_TRUE([a removeValueForProperty:KXLastNameProperty]);
  ASSERT_TRUE([book addRecord:a]);
  EXPECT_FALSE([book addRecord:a]);
  EXPECT_TRUE([book recordForUniqueId:[a uniqueId]] == a);
  EXPECT_EQ(S(@"Ann"), S([[view recordForUniqueId:[a uniqueId]] valueForProperty:KXFirstNameProperty]));
  ASSERT_TRUE([book save]);
  EXPECT_EQ(S(@"Anna"), S([[view recordForUniqueId:[a uniqueId]] valueForProperty:KXFirstNameProperty]));

  KXLocalAddressBook *again = reopen(book);
  KXRecord *back = [again recordForUniqueId:[a uniqueId]];
  EXPECT_EQ(S(@"Anna"), S([back valueForProperty:KXFirstNameProperty]));
  EXPECT_TRUE([back valueForProperty:KXLastNameProperty] == nil);
  EXPECT_EQ(0u, [[(KXGroup *)[again recordForUniqueId:[g uniqueId]] members] count]) << "removal took it out";
}
