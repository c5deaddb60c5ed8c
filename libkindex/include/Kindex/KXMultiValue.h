/* A KXMultiValue is an ordered list of labelled values, such as a person's e-mail addresses.
 *
 * Each entry has a value, a label (one of the labels in KXProperties.h, or any text), an
 * identifier that stays the same while the entry exists, across saves and across the
 * connection to a remote client, and optional attributes. One entry may be marked primary.
 *
 * Attributes are a dictionary of NSString to NSString: for an entry read from a vCard, the
 * parameters of its vCard property (name in upper case -> the values as a content line
 * writes them, several joined with ",": TYPE -> "HOME,CELL,pref", X-SERVICE-TYPE -> "Skype";
 * a value that holds a comma, a colon or a semicolon is in double quotes), in the forms of
 * vCard 3.0 whatever version the card was (4.0's PREF=1 is TYPE "pref" here, and written as
 * PREF=1 again in 4.0), and the keys of KXProperties.h that
 * are not parameters (KXVCardGroupAttribute and kin, lower case). They say how the entry was
 * written, so that writing it again loses nothing; a program that changes an entry's label
 * may leave them as they are (the vCard writer then writes the TYPE of the new label). Two
 * entries are equal when their values, labels and attributes are.
 *
 * KXMultiValue itself is immutable: a record hands out only immutable multi-values, so
 * nothing a caller does to one can change a book behind the book's back. To change a
 * property, make a KXMutableMultiValue from the current value, edit it, and set it again
 * with -[KXRecord setValue:forProperty:]. Multi-values cross GNUstep Distributed Objects
 * by copy.
 */
#ifndef KINDEX_KXMULTIVALUE_H
#define KINDEX_KXMULTIVALUE_H

#import <Foundation/Foundation.h>

@interface KXMultiValue : NSObject <NSCoding, NSCopying, NSMutableCopying> {
  struct KXEntryList *_entries; /* private to the library */
  NSString *_primaryIdentifier;
}

- (NSUInteger)count;
/* Each gives nil for an index out of range. */
- (id)valueAtIndex:(NSUInteger)index;
- (NSString *)labelAtIndex:(NSUInteger)index;
- (NSString *)identifierAtIndex:(NSUInteger)index;
/* nil when the entry has none. */
- (NSDictionary *)attributesAtIndex:(NSUInteger)index;
/* NSNotFound when no entry has the identifier. */
- (NSUInteger)indexForIdentifier:(NSString *)identifier;
/* The primary entry's identifier; the first entry's when none was chosen; nil when empty. */
- (NSString *)primaryIdentifier;

@end

@interface KXMutableMultiValue : KXMultiValue

- (id)init;
/* An editable copy of the entries of multiValue, identifiers included; empty for nil. */
- (id)initWithMultiValue:(KXMultiValue *)multiValue;

/* Appends an entry and gives its new identifier; nil (and nothing added) for a nil value. */
- (NSString *)addValue:(id)value withLabel:(NSString *)label;
/* The same with attributes (nil or empty for none); nil, and nothing added, when they are
 * not a dictionary of strings to strings. */
- (NSString *)addValue:(id)value withLabel:(NSString *)label attributes:(NSDictionary *)attributes;
- (BOOL)insertValue:(id)value withLabel:(NSString *)label atIndex:(NSUInteger)index;
- (BOOL)removeValueAndLabelAtIndex:(NSUInteger)index;
- (BOOL)replaceValueAtIndex:(NSUInteger)index withValue:(id)value;
- (BOOL)replaceLabelAtIndex:(NSUInteger)index withLabel:(NSString *)label;
/* nil or empty removes them; NO when they are not a dictionary of strings to strings. */
- (BOOL)replaceAttributesAtIndex:(NSUInteger)index withAttributes:(NSDictionary *)attributes;
- (BOOL)setPrimaryIdentifier:(NSString *)identifier;

@end

#endif
