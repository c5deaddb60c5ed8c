/* vCards and the records of a book: reading vCard text of any version, applying the cards to
 * a book, and writing a record as a card. kindex's import, export and edit, and bookd's
 * CardDAV service, go through these, so that a card means the same record everywhere.
 *
 * What a record keeps of a card (see KXProperties.h and KXMultiValue.h): the values the
 * library names, each multi-value entry's parameters, group and X-ABLabel as its attributes,
 * the parameters of the other properties the library names, and every other property as
 * written, in order. Writing such a record gives the card back: the same properties with the
 * same groups, parameters and values, in the forms of the version written (TYPE=pref or
 * PREF=1, X-ADDRESSBOOKSERVER-KIND or KIND, ...), and the library's own properties in an order
 * of its own. A value a program changed since is written from the new value: an entry whose
 * label changed gets the TYPE of its new label (and an X-ABLabel for a label of its own).
 *
 * Identity: a card's UID is the unique id of its record, exactly as written, and is written
 * back unchanged. A UID, and a group's MEMBER (or Apple's X-ADDRESSBOOKSERVER-MEMBER), finds
 * its record with or without a "urn:uuid:" prefix.
 *
 * Groups: a group card (KIND:group of 4.0, or Apple's X-ADDRESSBOOKSERVER-KIND:group) is a
 * group record named by its FN, with the records its MEMBERs name as members. A person's
 * CATEGORIES make it a member of the groups of those names: one it is a member of already,
 * else any, else a new group that is a vCard category (written as CATEGORIES on its members'
 * cards rather than as a card of its own). Every other group is written as a group card.
 */
#ifndef KINDEX_KXVCARD_H
#define KINDEX_KXVCARD_H

#import <Foundation/Foundation.h>
#import <Kindex/KXAddressBook.h>
#import <Kindex/KXRecord.h>

typedef NS_ENUM(NSInteger, KXVCardVersion) {
  KXVCardVersion30 = 30, /* RFC 2426, what most programs read */
  KXVCardVersion40 = 40, /* RFC 6350 */
};

/* A line of vCard text that could not be read as meant. */
@interface KXVCardProblem : NSObject {
  NSUInteger _line;
  NSString *_message;
}
/* The physical line, from 1. */
- (NSUInteger)line;
/* One line without a trailing period; text from the file in it has its control characters
 * escaped (\xNN), so it is fit for a terminal as it is. */
- (NSString *)message;
@end

/* One card as read, immutable. */
@interface KXVCard : NSObject {
  void *_card; /* the card, private to the library */
}

/* The cards of vCard data of any version (2.1, 3.0, 4.0) and encoding real programs write
 * (UTF-8 with or without a byte-order mark, UTF-16 with one, 8-bit files, QUOTED-PRINTABLE,
 * BASE64, any line ends), in order. A card that cannot be read is left out and named in
 * *problems (one KXVCardProblem each, when problems is not NULL); *warnings gets what was
 * read but perhaps not as meant (text of unknown character set taken as Windows-1252). */
+ (NSArray *)cardsFromData:(NSData *)data problems:(NSArray **)problems warnings:(NSArray **)warnings;

/* The UID as written; nil when the card has none. */
- (NSString *)uniqueId;
/* Whether the card is a group's (KIND:group, X-ADDRESSBOOKSERVER-KIND:group). */
- (BOOL)isGroup;
/* A group card's MEMBER values as written ("urn:uuid:..."), in order; empty for others. */
- (NSArray *)memberIds;
/* The CATEGORIES, in order. */
- (NSArray *)categories;
/* The physical line the card began on in the data it was read from. */
- (NSUInteger)line;
/* NO for a card that names no one (a person's card with neither N nor FN), which
 * -applyVCards: refuses whatever the book holds. */
- (BOOL)namesItsRecord;

@end

@interface KXAddressBook (KXVCard)

/* The record the card's UID names (with or without "urn:uuid:"), or nil. */
- (KXRecord *)recordForVCard:(KXVCard *)card;

/* Applies the cards to the book, group cards first (so that categories find them), then the
 * others, then the groups' members (so that a group finds members given after it):
 * - a card whose UID a record of the book has updates that record: the card replaces every
 *   value the card could carry (values the vCard mapping does not know stay), and entries of
 *   multi-values that did not change keep their identifiers; a person's CATEGORIES only add
 *   memberships; a group's MEMBERs replace its members;
 * - any other card makes a new person or group with the card's UID, or a fresh one when the
 *   card has none (so that such a card applied again makes another record).
 * A MEMBER that names no record of the book is kept with the group's other properties and
 * written back, until a card applied later makes the record it names: then that record
 * becomes a member (a client may send a group before its members). Values that do not change
 * are not set again, so applying a card the record was written as changes nothing.
 *
 * Gives, for each card in order, the record it updated or made, or an NSError (code
 * KXErrorCardRefused) when it was refused: it names no one (a person's card without N and
 * FN), its UID is a record of the other kind, or the book refused the change. Changes are in
 * memory until -save. */
- (NSArray *)applyVCards:(NSArray *)cards;

/* Every person, then every group that is not a vCard category, as cards one after another:
 * what -applyVCards: takes back as the same records with the same members, in this book or
 * in an empty one. */
- (NSData *)vCardDataWithVersion:(KXVCardVersion)version;

@end

@interface KXRecord (KXVCard)

/* The record as one vCard (BEGIN:VCARD to END:VCARD, CR LF line ends, UTF-8) of the given
 * version, with its group memberships as CATEGORIES (the categories'; a group card names its
 * members itself) and, for a group, its members as MEMBER (X-ADDRESSBOOKSERVER-MEMBER in
 * 3.0): "urn:uuid:" and the uid, or the uid alone when it is a URI already. */
- (NSData *)vCardDataWithVersion:(KXVCardVersion)version;

@end

#endif
