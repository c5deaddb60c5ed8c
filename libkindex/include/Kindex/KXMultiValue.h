/* A KXMultiValue is an ordered list of labelled values, such as a person's e-mail addresses.
 *
 * Each entry has a value, a label (one of the labels in KXProperties.h, or any text) and an
 * identifier that stays the same while the entry exists, across saves and across the
 * connection to a remote client. One entry may be marked primary.
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
- (BOOL)insertValue:(id)value withLabel:(NSString *)label atIndex:(NSUInteger)index;
- (BOOL)removeValueAndLabelAtIndex:(NSUInteger)index;
- (BOOL)replaceValueAtIndex:(NSUInteger)index withValue:(id)value;
- (BOOL)replaceLabelAtIndex:(NSUInteger)index withLabel:(NSString *)label;
- (BOOL)setPrimaryIdentifier:(NSString *)identifier;

@end

#endif
