// The card <-> record mapping through the public API, as kindex and bookd use it: a card read
// into a book and written again must say what it said, a card applied again must change
// nothing, identity goes by UID, and groups travel both as group cards and as categories.
#include "BookTest.h"

#include <string>
#include <vector>

namespace {

NSData *bytesOf(const std::string &text) {
  return [NSData dataWithBytes:text.data() length:text.size()];
}

NSArray *cardsOf(const std::string &text) {
  NSArray *problems = nil;
  NSArray *cards = [KXVCard cardsFromData:bytesOf(text) problems:&problems warnings:NULL];
  EXPECT_EQ(0u, [problems count]) << S(problems);
  return cards;
}

std::string textOf(NSData *bytes) {
  return std::string(static_cast<const char *>([bytes bytes]), [bytes length]);
}

std::string card(const std::string &body, const char *version = "3.0") {
  return std::string("BEGIN:VCARD\r\nVERSION:") + version + "\r\n" + body + "END:VCARD\r\n";
}

// An Apple-style card with something of every kind the mapping knows.
const std::string kRich =
    card("N:Lovelace;Ada,Augusta;King;Lady;\r\n"
         "FN:Ada King\\, Countess of Lovelace\r\n"
         "NICKNAME:Ada,Enchantress\r\n"
         "ORG:Analytical Engines;Research;Poetical Science\r\n"
         "item1.EMAIL;type=INTERNET;type=pref:ada@example.org\r\n"
         "item1.X-ABLabel:Salon\r\n"
         "EMAIL;TYPE=INTERNET,HOME:ada@home.example\r\n"
         "TEL;type=CELL;type=VOICE:+44 1\r\n"
         "TEL:+44 2\r\n"
         "ADR;TYPE=HOME:Box 7;Flat 2;12 St James's Square;London;;SW1Y 4JH;UK\r\n"
         "URL;type=WORK:https://example.org/ada\r\n"
         "IMPP;X-SERVICE-TYPE=Jabber:xmpp:ada@example.org\r\n"
         "item2.X-ABRELATEDNAMES:William King\r\n"
         "item2.X-ABLabel:_$!<Spouse>!$_\r\n"
         "BDAY;VALUE=date:1815-12-10\r\n"
         "X-ANNIVERSARY:1835-07-08\r\n"
         "NOTE;LANGUAGE=en:First note\r\n"
         "NOTE:Second note\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG;X-ABCROP-RECTANGLE=ABClipRect_1&0&0&1&1:/9j/4AAQ\r\n"
         "X-PHONETIC-LAST-NAME:LUV-lace\r\n"
         "item3.X-ABADR:gb\r\n"
         "X-CUSTOM;X-P=\"a,b\":value\\; with escapes\r\n"
         "UID:ada-1815\r\n");

class CardMappingTest : public BookTest {
 protected:
  // The cards of text applied to book; each must have been taken.
  static NSArray *apply(KXAddressBook *book, const std::string &text) {
    NSArray *results = [book applyVCards:cardsOf(text)];
    for (NSUInteger i = 0; i < [results count]; i++)
      EXPECT_FALSE([[results objectAtIndex:i] isKindOfClass:[NSError class]]) << S(results);
    return results;
  }
  static std::string written(KXRecord *record, KXVCardVersion version = KXVCardVersion30) {
    return textOf([record vCardDataWithVersion:version]);
  }
};

}  // namespace

TEST_F(CardMappingTest, ARecordHoldsTheWholeCardAndWritesItBackUnchanged) {
  KXLocalAddressBook *book = newBook();
  KXPerson *ada = [apply(book, kRich) objectAtIndex:0];
  EXPECT_EQ("ada-1815", S([ada uniqueId]));
  struct Row {
    NSString *property;
    const char *value;
  } rows[] = {
      {KXFirstNameProperty, "Ada,Augusta"},     {KXMiddleNameProperty, "King"},
      {KXNamePrefixProperty, "Lady"},           {KXFormattedNameProperty, "Ada King, Countess of Lovelace"},
      {KXNicknameProperty, "Ada,Enchantress"},  {KXOrganizationProperty, "Analytical Engines"},
      {KXDepartmentProperty, "Research"},       {KXBirthdayProperty, "1815-12-10"},
      {KXAnniversaryProperty, "1835-07-08"},    {KXNoteProperty, "First note"},
      {KXPhoneticLastNameProperty, "LUV-lace"}, {KXPhotoProperty, "data:image/jpeg;base64,/9j/4AAQ"},
  };
  for (const Row &row : rows) EXPECT_EQ(row.value, S([ada valueForProperty:row.property])) << S(row.property);
  EXPECT_TRUE([ada valueForProperty:KXNameSuffixProperty] == nil);

  KXMultiValue *mails = [ada valueForProperty:KXEmailProperty];
  ASSERT_EQ(2u, [mails count]);
  EXPECT_EQ("Salon", S([mails labelAtIndex:0]));  // X-ABLabel
  EXPECT_EQ("item1", S([[mails attributesAtIndex:0] objectForKey:KXVCardGroupAttribute]));
  EXPECT_EQ("INTERNET,pref", S([[mails attributesAtIndex:0] objectForKey:@"TYPE"]));
  EXPECT_EQ(S(KXEmailHomeLabel), S([mails labelAtIndex:1]));
  EXPECT_EQ(S([mails identifierAtIndex:0]), S([mails primaryIdentifier]));
  KXMultiValue *phones = [ada valueForProperty:KXPhoneProperty];
  EXPECT_EQ(S(KXPhoneMobileLabel), S([phones labelAtIndex:0]));
  EXPECT_TRUE([phones labelAtIndex:1] == nil) << "an untyped entry stays untyped";
  EXPECT_TRUE([phones attributesAtIndex:1] == nil);
  NSDictionary *address = [[ada valueForProperty:KXAddressProperty] valueAtIndex:0];
  EXPECT_EQ("Box 7", S([address objectForKey:KXAddressPOBoxKey]));
  EXPECT_EQ("Flat 2", S([address objectForKey:KXAddressExtendedKey]));
  EXPECT_TRUE([address objectForKey:KXAddressStateKey] == nil);
  KXMultiValue *related = [ada valueForProperty:KXRelatedNamesProperty];
  EXPECT_EQ("_$!<Spouse>!$_", S([related labelAtIndex:0]));
  EXPECT_EQ("X-ABRELATEDNAMES", S([[related attributesAtIndex:0] objectForKey:KXVCardNameAttribute]));
  KXMultiValue *others = [ada valueForProperty:KXOtherVCardPropertiesProperty];
  ASSERT_EQ(3u, [others count]);
  EXPECT_EQ("NOTE:Second note", S([others valueAtIndex:0]));
  EXPECT_EQ("item3.X-ABADR:gb", S([others valueAtIndex:1]));
  EXPECT_EQ("X-CUSTOM;X-P=\"a,b\":value\\; with escapes", S([others valueAtIndex:2]));

  // Saved and reopened, the record still writes the same card; applying that card changes
  // nothing, in either version.
  std::string as3 = written(ada), as4 = written(ada, KXVCardVersion40);
  ASSERT_TRUE([book save]);
  KXLocalAddressBook *again = reopen(book);
  KXRecord *back = [again recordForUniqueId:@"ada-1815"];
  EXPECT_EQ(as3, written(back));
  EXPECT_EQ(as4, written(back, KXVCardVersion40));
  for (const std::string &text : {as3, as4, kRich}) {
    apply(again, text);
    EXPECT_FALSE([again hasUnsavedChanges]) << text;
  }
  EXPECT_EQ(1u, [[again people] count]);
  // What was kept as written goes out as written.
  for (const char *line :
       {"N:Lovelace;Ada,Augusta;King;Lady;\r\n", "NICKNAME:Ada,Enchantress\r\n",
        "ORG:Analytical Engines;Research;Poetical Science\r\n", "item1.X-ABLabel:Salon\r\n", "TEL:+44 2\r\n",
        "X-CUSTOM;X-P=\"a,b\":value\\; with escapes\r\n", "UID:ada-1815\r\n"})
    EXPECT_NE(std::string::npos, as3.find(line)) << line << " in\n" << as3;
}

TEST_F(CardMappingTest, ValuesAProgramChangedAreWrittenFromTheNewValues) {
  KXLocalAddressBook *book = newBook();
  KXPerson *ada = [apply(book, kRich) objectAtIndex:0];
  KXMutableMultiValue *mails = [[[ada valueForProperty:KXEmailProperty] mutableCopy] autorelease];
  [mails replaceLabelAtIndex:0 withLabel:KXEmailWorkLabel];  // was the X-ABLabel "Salon"
  [mails replaceLabelAtIndex:1 withLabel:@"Country house"];  // was HOME
  [mails addValue:@"new@example.org" withLabel:nil];
  [mails setPrimaryIdentifier:[mails identifierAtIndex:2]];
  ASSERT_TRUE([ada setValue:mails forProperty:KXEmailProperty]);
  ASSERT_TRUE([ada setValue:@"Difference Engines" forProperty:KXOrganizationProperty]);
  ASSERT_TRUE([ada setValue:@"Ada" forProperty:KXFirstNameProperty]);
  std::string text = written(ada);
  for (const char *line : {"item1.EMAIL;TYPE=INTERNET,pref,WORK:ada@example.org\r\n",
                           "item4.EMAIL;TYPE=INTERNET:ada@home.example\r\n",
                           "item4.X-ABLabel:Country house\r\n", "EMAIL;TYPE=pref:new@example.org\r\n",
                           "ORG:Difference Engines;Research\r\n", "N:Lovelace;Ada;King;Lady;\r\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << " in\n" << text;
  EXPECT_EQ(std::string::npos, text.find("Salon"));
}

TEST_F(CardMappingTest, AKnownUidUpdatesItsRecordAndKeepsTheEntriesThatDidNotChange) {
  KXLocalAddressBook *book = newBook();
  KXPerson *ada = [apply(book, kRich) objectAtIndex:0];
  KXMultiValue *before = [[[ada valueForProperty:KXPhoneProperty] retain] autorelease];
  std::string changed = kRich;
  changed.replace(changed.find("+44 2"), 5, "+44 3");
  changed.replace(changed.find("UID:ada-1815"), 12, "UID:urn:uuid:ada-1815");
  KXPerson *same = [apply(book, changed) objectAtIndex:0];
  EXPECT_EQ(ada, same);
  EXPECT_EQ(1u, [[book people] count]);
  KXMultiValue *after = [ada valueForProperty:KXPhoneProperty];
  EXPECT_EQ(S([before identifierAtIndex:0]), S([after identifierAtIndex:0]));
  EXPECT_NE(S([before identifierAtIndex:1]), S([after identifierAtIndex:1]));
  EXPECT_EQ("+44 3", S([after valueAtIndex:1]));
  EXPECT_EQ("ada-1815", S([ada uniqueId])) << "the record keeps its uid";

  // A card that names no one, or the other kind of record, is refused; one without a UID
  // makes a new record each time.
  KXGroup *team = group(@"Team");
  [book addRecord:team];
  NSString *teamCard = [NSString stringWithFormat:@"BEGIN:VCARD\nN:X\nUID:%@\nEND:VCARD\n", [team uniqueId]];
  NSArray *results = [book applyVCards:cardsOf(card("EMAIL:nobody@example.org\r\n") + [teamCard UTF8String] +
                                               card("FN:Nameless\r\n") + card("FN:Nameless\r\n"))];
  ASSERT_EQ(4u, [results count]);
  EXPECT_EQ("card has neither N nor FN", S([[results objectAtIndex:0] localizedDescription]));
  EXPECT_EQ(KXErrorCardRefused, [[results objectAtIndex:1] code]);
  EXPECT_EQ("the card is a person's, but " + S([team uniqueId]) + " is a group of the book",
            S([[results objectAtIndex:1] localizedDescription]));
  EXPECT_NE([results objectAtIndex:2], [results objectAtIndex:3]);
  EXPECT_EQ(3u, [[book people] count]);

  EXPECT_TRUE([[KXPerson alloc] initWithUniqueId:@""] == nil);
  EXPECT_TRUE([[KXPerson alloc] initWithUniqueId:nil] == nil);
  EXPECT_FALSE([book addRecord:[[[KXPerson alloc] initWithUniqueId:@"ada-1815"] autorelease]]);
}

TEST_F(CardMappingTest, GroupCardsAndCategoriesTravelBothWays) {
  KXLocalAddressBook *book = newBook();
  // The group cards come first and name members given later, with and without urn:uuid:,
  // and one that is nowhere.
  std::string file = card("N:Friends\r\nFN:Friends\r\nX-ADDRESSBOOKSERVER-KIND:group\r\n"
                          "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p-1\r\n"
                          "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p-2\r\n"
                          "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:elsewhere\r\nUID:g-apple\r\n") +
                     card("KIND:group\r\nFN:Family\r\nMEMBER:urn:uuid:p-2\r\nUID:urn:uuid:g-4\r\n", "4.0") +
                     card("FN:One\r\nN:One;;;;\r\nCATEGORIES:Team,Friends\r\nUID:p-1\r\n") +
                     card("FN:Two\r\nUID:urn:uuid:p-2\r\n", "4.0");
  apply(book, file);
  KXGroup *friends = (KXGroup *)[book recordForUniqueId:@"g-apple"];
  KXGroup *family = (KXGroup *)[book recordForUniqueId:@"urn:uuid:g-4"];
  ASSERT_TRUE([friends isKindOfClass:[KXGroup class]]);
  ASSERT_TRUE([family isKindOfClass:[KXGroup class]]);
  EXPECT_EQ("(\"p-1\", \"urn:uuid:p-2\")", S(uids([friends members])));
  EXPECT_EQ("(\"urn:uuid:p-2\")", S(uids([family members])));
  EXPECT_EQ(3u, [[book groups] count]) << "Friends from CATEGORIES is the group card's group; Team is new";
  std::string groupText = written(friends);
  EXPECT_NE(std::string::npos, groupText.find("X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p-1\r\n")) << groupText;
  EXPECT_NE(std::string::npos, groupText.find("X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:p-2\r\n")) << groupText;
  EXPECT_NE(std::string::npos, groupText.find("X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:elsewhere\r\n"))
      << groupText;
  EXPECT_NE(std::string::npos, written(family, KXVCardVersion40).find("MEMBER:urn:uuid:p-2\r\n"));
  std::string one = written([book recordForUniqueId:@"p-1"]);
  EXPECT_NE(std::string::npos, one.find("CATEGORIES:Team\r\n")) << "Friends is written as a group card";

  // The book's export, applied to an empty book, gives the same groups with the same members,
  // and applied to this one changes nothing.
  NSData *exported = [book vCardDataWithVersion:KXVCardVersion30];
  KXLocalAddressBook *copy = newBook("copy");
  apply(copy, textOf(exported));
  ASSERT_EQ(3u, [[copy groups] count]);
  for (NSUInteger i = 0; i < 3; i++) {
    KXGroup *g = [[book groups] objectAtIndex:i];
    KXGroup *c = nil;
    for (NSUInteger k = 0; k < 3; k++)
      if ([[[[copy groups] objectAtIndex:k] valueForProperty:KXGroupNameProperty]
              isEqual:[g valueForProperty:KXGroupNameProperty]])
        c = [[copy groups] objectAtIndex:k];
    ASSERT_TRUE(c != nil) << S([g valueForProperty:KXGroupNameProperty]);
    EXPECT_EQ(S(uids([g members])), S(uids([c members])));
  }
  apply(book, textOf(exported));
  EXPECT_EQ(textOf(exported), textOf([book vCardDataWithVersion:KXVCardVersion30]));
  // Once the missing member arrives, on its own, the group takes it as a member and keeps the
  // MEMBER no longer among its other properties.
  apply(book, card("FN:Elsewhere\r\nUID:elsewhere\r\n"));
  EXPECT_EQ("(\"p-1\", \"urn:uuid:p-2\", elsewhere)", S(uids([friends members])));
  std::string after = written(friends);
  size_t first = after.find("MEMBER:urn:uuid:elsewhere\r\n");
  ASSERT_NE(std::string::npos, first) << after;
  EXPECT_EQ(std::string::npos, after.find("MEMBER:urn:uuid:elsewhere", first + 1))
      << "written once: " << after;
  EXPECT_NE(std::string::npos, after.find("N:Friends\r\n")) << after;
  EXPECT_EQ("N:Friends", S([[friends valueForProperty:KXOtherVCardPropertiesProperty] valueAtIndex:0]));
  EXPECT_EQ(1u, [[friends valueForProperty:KXOtherVCardPropertiesProperty] count]);
}

TEST_F(CardMappingTest, ReadingReportsProblemsAndTellsWhatACardIs) {
  NSArray *problems = nil, *warnings = nil;
  std::string text = card("N:A;B\r\nCATEGORIES:x,y\\,z\r\nUID:urn:uuid:1\r\n") +
                     "BEGIN:VCARD\r\nN\x01:broken\r\n" + "END:VCARD\r\n" + card("N:L\xe9on\r\n");
  NSArray *cards = [KXVCard cardsFromData:bytesOf(text) problems:&problems warnings:&warnings];
  ASSERT_EQ(2u, [cards count]);
  ASSERT_EQ(1u, [problems count]);
  EXPECT_EQ(8u, [[problems objectAtIndex:0] line]);
  EXPECT_EQ("bad property name", S([[problems objectAtIndex:0] message]));
  EXPECT_EQ(1u, [warnings count]);
  KXVCard *first = [cards objectAtIndex:0];
  EXPECT_EQ("urn:uuid:1", S([first uniqueId]));
  EXPECT_EQ("(x, \"y,z\")", S([first categories]));
  EXPECT_FALSE([first isGroup]);
  EXPECT_EQ(1u, [first line]);
  EXPECT_TRUE([[cards objectAtIndex:1] uniqueId] == nil);
}
