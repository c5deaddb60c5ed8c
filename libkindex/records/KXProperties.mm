#import <Kindex/KXProperties.h>
#import "KXPrivate.h"

// These texts are stored in books and sent to peers: changing one breaks every book written before.
NSString *const KXFirstNameProperty = @"FirstName";
NSString *const KXLastNameProperty = @"LastName";
NSString *const KXMiddleNameProperty = @"MiddleName";
NSString *const KXNicknameProperty = @"Nickname";
NSString *const KXOrganizationProperty = @"Organization";
NSString *const KXDepartmentProperty = @"Department";
NSString *const KXJobTitleProperty = @"JobTitle";
NSString *const KXEmailProperty = @"Email";
NSString *const KXPhoneProperty = @"Phone";
NSString *const KXAddressProperty = @"Address";
NSString *const KXNoteProperty = @"Note";
NSString *const KXFormattedNameProperty = @"FormattedName";
NSString *const KXNamePrefixProperty = @"NamePrefix";
NSString *const KXNameSuffixProperty = @"NameSuffix";
NSString *const KXPhoneticFirstNameProperty = @"PhoneticFirstName";
NSString *const KXPhoneticMiddleNameProperty = @"PhoneticMiddleName";
NSString *const KXPhoneticLastNameProperty = @"PhoneticLastName";
NSString *const KXBirthdayProperty = @"Birthday";
NSString *const KXAnniversaryProperty = @"Anniversary";
NSString *const KXRoleProperty = @"Role";
NSString *const KXGenderProperty = @"Gender";
NSString *const KXPhotoProperty = @"Photo";
NSString *const KXURLProperty = @"URL";
NSString *const KXInstantMessageProperty = @"InstantMessage";
NSString *const KXRelatedNamesProperty = @"RelatedNames";
NSString *const KXVCardParametersProperty = @"VCardParameters";
NSString *const KXOtherVCardPropertiesProperty = @"OtherVCardProperties";

NSString *const KXVCardGroupAttribute = @"group";
NSString *const KXVCardLabelAttribute = @"x-ablabel";
NSString *const KXVCardValueAttribute = @"value";
NSString *const KXVCardNameAttribute = @"name";

NSString *const KXGroupNameProperty = @"GroupName";

NSString *const KXHomeLabel = @"_$!<Home>!$_";
NSString *const KXWorkLabel = @"_$!<Work>!$_";
NSString *const KXOtherLabel = @"_$!<Other>!$_";
NSString *const KXEmailHomeLabel = @"_$!<Home>!$_";
NSString *const KXEmailWorkLabel = @"_$!<Work>!$_";
NSString *const KXEmailOtherLabel = @"_$!<Other>!$_";
NSString *const KXPhoneHomeLabel = @"_$!<Home>!$_";
NSString *const KXPhoneWorkLabel = @"_$!<Work>!$_";
NSString *const KXPhoneMobileLabel = @"_$!<Mobile>!$_";
NSString *const KXPhoneMainLabel = @"_$!<Main>!$_";
NSString *const KXPhoneHomeFaxLabel = @"_$!<HomeFAX>!$_";
NSString *const KXPhoneWorkFaxLabel = @"_$!<WorkFAX>!$_";
NSString *const KXPhonePagerLabel = @"_$!<Pager>!$_";
NSString *const KXPhoneOtherFaxLabel = @"_$!<OtherFAX>!$_";
NSString *const KXAddressHomeLabel = @"_$!<Home>!$_";
NSString *const KXAddressWorkLabel = @"_$!<Work>!$_";

NSString *const KXAddressStreetKey = @"Street";
NSString *const KXAddressCityKey = @"City";
NSString *const KXAddressStateKey = @"State";
NSString *const KXAddressZIPKey = @"ZIP";
NSString *const KXAddressCountryKey = @"Country";
NSString *const KXAddressPOBoxKey = @"POBox";
NSString *const KXAddressExtendedKey = @"Extended";

namespace kx {

const std::vector<NSString *> &libraryStrings() {
  static const std::vector<NSString *> all = {
      KXFirstNameProperty,
      KXLastNameProperty,
      KXMiddleNameProperty,
      KXNicknameProperty,
      KXOrganizationProperty,
      KXDepartmentProperty,
      KXJobTitleProperty,
      KXEmailProperty,
      KXPhoneProperty,
      KXAddressProperty,
      KXNoteProperty,
      KXFormattedNameProperty,
      KXNamePrefixProperty,
      KXNameSuffixProperty,
      KXPhoneticFirstNameProperty,
      KXPhoneticMiddleNameProperty,
      KXPhoneticLastNameProperty,
      KXBirthdayProperty,
      KXAnniversaryProperty,
      KXRoleProperty,
      KXGenderProperty,
      KXPhotoProperty,
      KXURLProperty,
      KXInstantMessageProperty,
      KXRelatedNamesProperty,
      KXVCardParametersProperty,
      KXOtherVCardPropertiesProperty,
      KXVCardGroupAttribute,
      KXVCardLabelAttribute,
      KXVCardValueAttribute,
      KXVCardNameAttribute,
      KXGroupNameProperty,
      KXHomeLabel,
      KXWorkLabel,
      KXOtherLabel,
      KXEmailHomeLabel,
      KXEmailWorkLabel,
      KXEmailOtherLabel,
      KXPhoneHomeLabel,
      KXPhoneWorkLabel,
      KXPhoneMobileLabel,
      KXPhoneMainLabel,
      KXPhoneHomeFaxLabel,
      KXPhoneWorkFaxLabel,
      KXPhonePagerLabel,
      KXPhoneOtherFaxLabel,
      KXAddressHomeLabel,
      KXAddressWorkLabel,
      KXAddressStreetKey,
      KXAddressCityKey,
      KXAddressStateKey,
      KXAddressZIPKey,
      KXAddressCountryKey,
      KXAddressPOBoxKey,
      KXAddressExtendedKey,
  };
  return all;
}

}  // namespace kx
