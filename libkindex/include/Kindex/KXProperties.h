/* Property keys, multi-value labels and postal-address keys of a Kindex address book.
 *
 * The values of the constants are stored in books on disk and travel to remote clients:
 * they never change once released. Compare them with -isEqualToString:, not by pointer,
 * since a value read back from storage or from a peer is another string object.
 *
 * What each property holds:
 *   single strings (NSString):   first, last, middle and nick name, organisation,
 *                                department, job title, note, group name
 *   multi-values (KXMultiValue): e-mail addresses and phone numbers (of NSString),
 *                                postal addresses (of NSDictionary with the address keys
 *                                below, each mapped to an NSString)
 */
#ifndef KINDEX_KXPROPERTIES_H
#define KINDEX_KXPROPERTIES_H

#import <Foundation/Foundation.h>

#if defined(__cplusplus)
#define KX_EXPORT extern "C"
#else
#define KX_EXPORT extern
#endif

/* Persons. */
KX_EXPORT NSString *const KXFirstNameProperty;
KX_EXPORT NSString *const KXLastNameProperty;
KX_EXPORT NSString *const KXMiddleNameProperty;
KX_EXPORT NSString *const KXNicknameProperty;
KX_EXPORT NSString *const KXOrganizationProperty;
KX_EXPORT NSString *const KXDepartmentProperty;
KX_EXPORT NSString *const KXJobTitleProperty;
KX_EXPORT NSString *const KXEmailProperty;
KX_EXPORT NSString *const KXPhoneProperty;
KX_EXPORT NSString *const KXAddressProperty;
KX_EXPORT NSString *const KXNoteProperty;

/* Groups. */
KX_EXPORT NSString *const KXGroupNameProperty;

/* Labels of multi-value entries. */
KX_EXPORT NSString *const KXHomeLabel;
KX_EXPORT NSString *const KXWorkLabel;
KX_EXPORT NSString *const KXOtherLabel;
KX_EXPORT NSString *const KXEmailHomeLabel;
KX_EXPORT NSString *const KXEmailWorkLabel;
KX_EXPORT NSString *const KXEmailOtherLabel;
KX_EXPORT NSString *const KXPhoneHomeLabel;
KX_EXPORT NSString *const KXPhoneWorkLabel;
KX_EXPORT NSString *const KXPhoneMobileLabel;
KX_EXPORT NSString *const KXPhoneMainLabel;
KX_EXPORT NSString *const KXPhoneHomeFaxLabel;
KX_EXPORT NSString *const KXPhoneWorkFaxLabel;
KX_EXPORT NSString *const KXPhonePagerLabel;
KX_EXPORT NSString *const KXAddressHomeLabel;
KX_EXPORT NSString *const KXAddressWorkLabel;

/* Keys of a postal address (the dictionaries inside KXAddressProperty). */
KX_EXPORT NSString *const KXAddressStreetKey;
KX_EXPORT NSString *const KXAddressCityKey;
KX_EXPORT NSString *const KXAddressStateKey;
KX_EXPORT NSString *const KXAddressZIPKey;
KX_EXPORT NSString *const KXAddressCountryKey;

#endif
