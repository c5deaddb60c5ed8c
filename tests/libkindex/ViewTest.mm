// A read-only view must refuse every change by every path - the view itself, the records
// and groups it hands out, their members and parent groups - and leave both the book in
// memory and its store untouched. A read-write view passes changes through and saves.
#include "BookTest.h"

class ViewTest : public BookTest {
 protected:
  void SetUp() override {
    BookTest::SetUp();
    book_ = newBook();
    ann_ = person(@"Ann", @"Lee", @"ann@example.org");
    bob_ = person(@"Bob", nil, nil);
    friends_ = group(@"Friends");
    [book_ addRecord:ann_];
    [book_ addRecord:bob_];
    [book_ addRecord:friends_];
    [friends_ addMember:ann_];
    ASSERT_TRUE([book_ save]);
  }

  // Every way a caller could try to change the book through records from view.
  void expectEveryChangeRefused(KXAddressBook *view) {
    KXPerson *p = (KXPerson *)[view recordForUniqueId:[ann_ uniqueId]];
    KXGroup *g = (KXGroup *)[view recordForUniqueId:[friends_ uniqueId]];
    ASSERT_TRUE(p != nil && g != nil);
    NSMutableArray *records = [NSMutableArray arrayWithObjects:p, g, nil];
    [records addObjectsFromArray:[view people]];
    [records addObjectsFromArray:[view groups]];
    [records addObjectsFromArray:[g members]];
    [records addObjectsFromArray:[p parentGroups]];
    for (NSUInteger i = 0; i < [records count]; i++) {
      KXRecord *r = [records objectAtIndex:i];
      EXPECT_TRUE([r isReadOnly]) << S(r);
      EXPECT_FALSE([r setValue:@"X" forProperty:KXFirstNameProperty]) << S(r);
      EXPECT_FALSE([r setValue:nil forProperty:KXFirstNameProperty]) << S(r);
      EXPECT_FALSE([r removeValueForProperty:KXLastNameProperty]) << S(r);
      EXPECT_FALSE([r removeValueForProperty:KXGroupNameProperty]) << S(r);
      EXPECT_FALSE([view removeRecord:r]) << S(r);
      if ([r isKindOfClass:[KXGroup class]]) {
        EXPECT_FALSE([(KXGroup *)r addMember:[view recordForUniqueId:[bob_ uniqueId]]]);
        EXPECT_FALSE([(KXGroup *)r removeMember:[[(KXGroup *)r members] lastObject]]);
      }
    }
    KXMultiValue *mails = [p valueForProperty:KXEmailProperty];
    EXPECT_FALSE([mails respondsToSelector:@selector(addValue:withLabel:)])
        << "hands out an editable multi-value";
    KXMutableMultiValue *edited = [[mails mutableCopy] autorelease];
    [edited addValue:@"x@example.org" withLabel:KXEmailHomeLabel];
    EXPECT_FALSE([p setValue:edited forProperty:KXEmailProperty]);
    EXPECT_FALSE([view addRecord:person(@"New", nil, nil)]);
    EXPECT_FALSE([view addRecord:p]);
    EXPECT_FALSE([view save]);
  }

  void expectBookUntouched() {
    EXPECT_FALSE([book_ hasUnsavedChanges]);
    KXLocalAddressBook *again = reopen(book_);
    EXPECT_EQ(2u, [[again people] count]);
    EXPECT_EQ(1u, [[again groups] count]);
    EXPECT_EQ(S(@"Ann"), S([[again recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
    EXPECT_EQ(S(@"Lee"), S([ann_ valueForProperty:KXLastNameProperty]));
    EXPECT_EQ(1u, [[(KXGroup *)[again recordForUniqueId:[friends_ uniqueId]] members] count]);
    EXPECT_EQ(1u, [(KXMultiValue *)[ann_ valueForProperty:KXEmailProperty] count]);
  }

  KXLocalAddressBook *book_ = nil;
  KXPerson *ann_ = nil, *bob_ = nil;
  KXGroup *friends_ = nil;
};

TEST_F(ViewTest, ReadOnlyViewAnswersQueries) {
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:YES] autorelease];
  EXPECT_TRUE([view isReadOnly]);
  EXPECT_EQ(2u, [[view people] count]);
  EXPECT_EQ(1u, [[view groups] count]);
  KXGroup *g = [[view groups] objectAtIndex:0];
  EXPECT_EQ(S([friends_ uniqueId]), S([g uniqueId]));
  ASSERT_EQ(1u, [[g members] count]);
  EXPECT_EQ(S([ann_ uniqueId]), S([[[g members] objectAtIndex:0] uniqueId]));
  EXPECT_EQ(S(@"Lee"), S([[view recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXLastNameProperty]));
  EXPECT_TRUE([view recordForUniqueId:@"no-such-id"] == nil);
}

TEST_F(ViewTest, ReadOnlyViewRefusesEveryChange) {
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:YES] autorelease];
  expectEveryChangeRefused(view);
  expectBookUntouched();
}

TEST_F(ViewTest, ReadWriteViewPassesChangesAndSaves) {
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  EXPECT_FALSE([view isReadOnly]);
  KXPerson *p = (KXPerson *)[view recordForUniqueId:[ann_ uniqueId]];
  EXPECT_TRUE([p setValue:@"Anna" forProperty:KXFirstNameProperty]);
  KXPerson *carl = person(@"Carl", nil, nil);
  EXPECT_TRUE([view addRecord:carl]);
  KXGroup *g = (KXGroup *)[view recordForUniqueId:[friends_ uniqueId]];
  EXPECT_TRUE([g addMember:carl]);
  EXPECT_TRUE([view removeRecord:[view recordForUniqueId:[bob_ uniqueId]]]);
  EXPECT_TRUE([view hasUnsavedChanges]);
  EXPECT_TRUE([view save]);
  EXPECT_FALSE([book_ hasUnsavedChanges]);

  KXLocalAddressBook *again = reopen(book_);
  EXPECT_EQ(S(@"Anna"), S([[again recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_TRUE([again recordForUniqueId:[bob_ uniqueId]] == nil);
  EXPECT_EQ(2u, [[(KXGroup *)[again recordForUniqueId:[friends_ uniqueId]] members] count]);
}

TEST_F(ViewTest, AViewOfNoBookIsNil) {
  EXPECT_TRUE([[KXPublicAddressBook alloc] initWithAddressBook:nil readOnly:YES] == nil);
}

// Every view has unsaved changes of its own, which nobody else sees (not the book, not other
// views, not other processes) and which only its own save writes.
TEST_F(ViewTest, EachViewHasItsOwnUnsavedChanges) {
  KXPublicAddressBook *one = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                      readOnly:NO] autorelease];
  KXPublicAddressBook *two = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                      readOnly:NO] autorelease];
  KXPublicAddressBook *looker = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                         readOnly:YES] autorelease];
  KXPerson *annInOne = (KXPerson *)[one recordForUniqueId:[ann_ uniqueId]];
  ASSERT_TRUE([annInOne setValue:@"Anna" forProperty:KXFirstNameProperty]);
  KXPerson *carl = person(@"Carl", nil, nil);
  ASSERT_TRUE([one addRecord:carl]);
  ASSERT_TRUE([(KXGroup *)[one recordForUniqueId:[friends_ uniqueId]] addMember:carl]);
  ASSERT_TRUE([one removeRecord:[one recordForUniqueId:[bob_ uniqueId]]]);

  // One sees its own changes on every read; nobody else sees any of them.
  EXPECT_EQ(S(@"Anna"), S([[one recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_TRUE([one recordForUniqueId:[bob_ uniqueId]] == nil);
  EXPECT_EQ(2u, [[(KXGroup *)[[one groups] objectAtIndex:0] members] count]);
  KXAddressBook *others[] = {two, looker, book_, reopen(book_)};
  for (KXAddressBook *other : others) {
    SCOPED_TRACE(S(NSStringFromClass([other class])));
    EXPECT_EQ(S(@"Ann"), S([[other recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
    EXPECT_EQ(2u, [[other people] count]);
    EXPECT_TRUE([other recordForUniqueId:[carl uniqueId]] == nil);
    EXPECT_EQ(1u, [[(KXGroup *)[other recordForUniqueId:[friends_ uniqueId]] members] count]);
    EXPECT_FALSE([other hasUnsavedChanges]);
  }
  EXPECT_TRUE([one hasUnsavedChanges]);

  // Two's save writes two's change alone; one then shows it merged with its own.
  ASSERT_TRUE([[two recordForUniqueId:[ann_ uniqueId]] setValue:@"Li" forProperty:KXLastNameProperty]);
  ASSERT_TRUE([two save]);
  EXPECT_FALSE([two hasUnsavedChanges]);
  EXPECT_TRUE([one hasUnsavedChanges]);
  KXLocalAddressBook *stored = reopen(book_);
  EXPECT_EQ(S(@"Ann"), S([[stored recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(S(@"Li"), S([[stored recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXLastNameProperty]));
  EXPECT_EQ(2u, [[stored people] count]);
  EXPECT_EQ(S(@"Li"), S([ann_ valueForProperty:KXLastNameProperty]))
      << "the book's own record took the save in";
  KXRecord *annNow = [one recordForUniqueId:[ann_ uniqueId]];
  EXPECT_EQ(S(@"Anna"), S([annNow valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(S(@"Li"), S([annNow valueForProperty:KXLastNameProperty]));

  ASSERT_TRUE([one save]);
  stored = reopen(book_);
  EXPECT_EQ(S(@"Anna"), S([[stored recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXFirstNameProperty]));
  EXPECT_EQ(S(@"Li"), S([[stored recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXLastNameProperty]));
  EXPECT_TRUE([stored recordForUniqueId:[bob_ uniqueId]] == nil);
  EXPECT_TRUE([stored recordForUniqueId:[carl uniqueId]] != nil);
  EXPECT_EQ(2u, [[(KXGroup *)[stored recordForUniqueId:[friends_ uniqueId]] members] count]);
  EXPECT_TRUE([book_ recordForUniqueId:[bob_ uniqueId]] == nil);
  EXPECT_FALSE([book_ hasUnsavedChanges]);
}

// The book's own unsaved changes are its own too: views show what is saved, and a view's save
// arrives in the book's changed records merged with the book's changes.
TEST_F(ViewTest, TheBooksUnsavedChangesAreItsOwn) {
  ASSERT_TRUE([ann_ setValue:@"Book's" forProperty:KXNoteProperty]);
  [book_ removeRecord:bob_];
  KXPublicAddressBook *view = [[[KXPublicAddressBook alloc] initWithAddressBook:book_
                                                                       readOnly:NO] autorelease];
  EXPECT_TRUE([[view recordForUniqueId:[ann_ uniqueId]] valueForProperty:KXNoteProperty] == nil);
  EXPECT_TRUE([view recordForUniqueId:[bob_ uniqueId]] != nil);
  EXPECT_FALSE([view hasUnsavedChanges]);

  ASSERT_TRUE([[view recordForUniqueId:[ann_ uniqueId]] setValue:@"View's"
                                                     forProperty:KXOrganizationProperty]);
  ASSERT_TRUE([view save]);
  EXPECT_EQ(S(@"View's"), S([ann_ valueForProperty:KXOrganizationProperty]));
  EXPECT_EQ(S(@"Book's"), S([ann_ valueForProperty:KXNoteProperty]));
  EXPECT_TRUE([book_ hasUnsavedChanges]);
  ASSERT_TRUE([book_ save]);
  KXLocalAddressBook *stored = reopen(book_);
  KXRecord *ann = [stored recordForUniqueId:[ann_ uniqueId]];
  EXPECT_EQ(S(@"View's"), S([ann valueForProperty:KXOrganizationProperty]));
  EXPECT_EQ(S(@"Book's"), S([ann valueForProperty:KXNoteProperty]));
  EXPECT_TRUE([stored recordForUniqueId:[bob_ uniqueId]] == nil);
}
