/* Property keys, multi-value labels and postal-address keys of a Kindex address book.
 *
 * The values of the constants are stored in books on disk and travel to remote clients:
 * they never change once released. Compare them with -isEqualToString:, not by pointer,
 * since a value read back from storage or from a peer is another string object.
 *
 * What each property holds:
 *   single strings (NSString):   first, last, middle and nick name, organisation,
 *                                department, job title, note, group name; formatted name,
 *                                name prefix and suffix, phonetic first, middle and last
 *                                name, birthday, anniversary, role, gender, photo
 *   multi-values (KXMultiValue): e-mail addresses, phone numbers, URLs, instant-messaging
 *                                addresses and related names (of NSString), postal
 *                                addresses (of NSDictionary with the address keys below,
 *                                each mapped to an NSString), and the two vCard properties
 *                                at the end of this list
 *
 * The properties that come from vCards (KXVCard.h) hold their text as the card wrote it, with
 * its escapes undone:
 * - Formatted name: FN as written. A person without one is written with one made from the
 *   names (or the organisation, or the first e-mail address).
 * - Birthday and anniversary: the date text as written ("1970-04-15", "--0415", "19700415",
 *   "1970-04-15T10:00:00Z"); the library does not read dates.
 * - Gender: GENDER's text ("M", "F;her own words"); Role: ROLE.
 * - Photo: "data:<media type>;base64,<data>" for a picture held in the card, else its URL.
 * - Nickname: NICKNAME as written, a list of several names separated by commas.
 * - Name parts and address parts that are lists hold the items separated by commas.
 * - Organisation: ORG's first unit; department: its second. Further units stay in the
 *   card's parameters (KXVCardValueAttribute, below) and are written back while the first two
 *   units are unchanged.
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
KX_EXPORT NSString *const KXFormattedNameProperty;
KX_EXPORT NSString *const KXNamePrefixProperty;
KX_EXPORT NSString *const KXNameSuffixProperty;
KX_EXPORT NSString *const KXPhoneticFirstNameProperty;
KX_EXPORT NSString *const KXPhoneticMiddleNameProperty;
KX_EXPORT NSString *const KXPhoneticLastNameProperty;
KX_EXPORT NSString *const KXBirthdayProperty;
KX_EXPORT NSString *const KXAnniversaryProperty;
KX_EXPORT NSString *const KXRoleProperty;
KX_EXPORT NSString *const KXGenderProperty;
KX_EXPORT NSString *const KXPhotoProperty;
KX_EXPORT NSString *const KXURLProperty;
KX_EXPORT NSString *const KXInstantMessageProperty;
KX_EXPORT NSString *const KXRelatedNamesProperty;

/* Groups. */
KX_EXPORT NSString *const KXGroupNameProperty;

/* What a record keeps of a vCard beyond the values above, so that the card can be written
 * again as it was read. A program may read these but should leave them alone: the library
 * keeps them in step with the values above.
 *
 * KXVCardParametersProperty: a multi-value of dictionaries, one entry per vCard property the
 * library holds as a single string (FN, N, ORG, NOTE, PHOTO, ... ; for a group, FN) that
 * came with parameters, a group or a value of its own; the label is the vCard property's name
 * ("N"), the dictionary its attributes as for a multi-value entry (see KXMultiValue.h). A
 * group whose entries include one labelled "CATEGORIES" is a vCard category: it is written as
 * CATEGORIES on its members' cards, not as a group card of its own.
 *
 * KXOtherVCardPropertiesProperty: a multi-value of strings, every vCard property the library
 * has no value for (X- properties, LABEL, GEO, TZ, REV, KIND of a person, a second N or
 * NOTE, ...), each one content line without folding, group.NAME;PARAM=value:value, in the
 * forms of vCard 3.0 whatever version the card was (X-ADDRESSBOOKSERVER-KIND, GEO:lat;lon),
 * in the order of the card; labels are nil. Written back in that order, in the forms of the
 * version written. */
KX_EXPORT NSString *const KXVCardParametersProperty;
KX_EXPORT NSString *const KXOtherVCardPropertiesProperty;

/* Keys of the attributes of a multi-value entry (see KXMultiValue.h) that are not vCard
 * parameters: parameter names are upper case, these lower case.
 *   KXVCardGroupAttribute: the property's group ("item1" of item1.TEL).
 *   KXVCardLabelAttribute: the X-ABLabel that gave the entry its label, as written.
 *   KXVCardValueAttribute: the value as the card wrote it, kept when the library's value
 *     alone would be written otherwise (lists inside name or address parts, ORG units past
 *     the second, commas left unescaped); written back while it still reads as the
 *     library's value.
 *   KXVCardNameAttribute: the vCard property's name when it is not the usual one
 *     (X-ABRELATEDNAMES for a related name, X-ANNIVERSARY, ...). */
KX_EXPORT NSString *const KXVCardGroupAttribute;
KX_EXPORT NSString *const KXVCardLabelAttribute;
KX_EXPORT NSString *const KXVCardValueAttribute;
KX_EXPORT NSString *const KXVCardNameAttribute;

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
KX_EXPORT NSString *const KXPhoneOtherFaxLabel;
KX_EXPORT NSString *const KXAddressHomeLabel;
KX_EXPORT NSString *const KXAddressWorkLabel;

/* Keys of a postal address (the dictionaries inside KXAddressProperty). */
KX_EXPORT NSString *const KXAddressStreetKey;
KX_EXPORT NSString *const KXAddressCityKey;
KX_EXPORT NSString *const KXAddressStateKey;
KX_EXPORT NSString *const KXAddressZIPKey;
KX_EXPORT NSString *const KXAddressCountryKey;
KX_EXPORT NSString *const KXAddressPOBoxKey;
KX_EXPORT NSString *const KXAddressExtendedKey;

#endif
