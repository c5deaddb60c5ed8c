#import "PersonCard.h"

#include <cctype>

#include "TextBridge.h"

namespace kindex {

namespace {

// Which TYPE words stand for which library label. Phones have more kinds than e-mails; a label
// found in neither list travels as it is, as one TYPE value.
struct LabelTypes {
  NSString *const *label;
  std::vector<std::string> types;
};

const std::vector<LabelTypes> &emailLabels() {
  static const std::vector<LabelTypes> table = {
      {&KXEmailWorkLabel, {"WORK"}}, {&KXEmailHomeLabel, {"HOME"}}, {&KXEmailOtherLabel, {"OTHER"}}};
  return table;
}

const std::vector<LabelTypes> &phoneLabels() {
  static const std::vector<LabelTypes> table = {
      {&KXPhoneWorkLabel, {"WORK"}},         {&KXPhoneHomeLabel, {"HOME"}},
      {&KXPhoneMobileLabel, {"CELL"}},       {&KXPhoneMainLabel, {"MAIN"}},
      {&KXPhoneHomeFaxLabel, {"HOME", "FAX"}}, {&KXPhoneWorkFaxLabel, {"WORK", "FAX"}},
      {&KXPhonePagerLabel, {"PAGER"}},       {&KXOtherLabel, {"OTHER"}}};
  return table;
}

const std::vector<LabelTypes> &addressLabels() {
  static const std::vector<LabelTypes> table = {
      {&KXAddressWorkLabel, {"WORK"}}, {&KXAddressHomeLabel, {"HOME"}}, {&KXOtherLabel, {"OTHER"}}};
  return table;
}

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> typesForLabel(NSString *label, const std::vector<LabelTypes> &table) {
  if (label == nil || [label length] == 0) return {};
  for (const LabelTypes &row : table)
    if ([label isEqualToString:*row.label]) return row.types;
  return {utf8(label)};
}

NSString *labelForTypes(std::vector<std::string> types, const std::vector<LabelTypes> &table,
                        NSString *fallback) {
  // VOICE is what a phone is anyway; it says nothing about the label.
  std::vector<std::string> meaningful;
  for (const std::string &t : types)
    if (upper(t) != "VOICE") meaningful.push_back(t);
  if (meaningful.empty()) return fallback;
  for (const LabelTypes &row : table) {
    if (row.types.size() != meaningful.size()) continue;
    bool same = true;
    for (const std::string &t : meaningful) {
      bool found = false;
      for (const std::string &r : row.types) found = found || upper(t) == r;
      same = same && found;
    }
    if (same) return *row.label;
  }
  std::string joined;
  for (size_t i = 0; i < meaningful.size(); ++i) joined += (i ? "," : "") + meaningful[i];
  NSString *label = nsString(joined);
  return label ? label : fallback;
}

std::vector<vcard::TypedValue> typedValues(id value, const std::vector<LabelTypes> &table) {
  std::vector<vcard::TypedValue> out;
  if (![value isKindOfClass:[KXMultiValue class]]) return out;
  KXMultiValue *multi = value;
  NSUInteger count = [multi count];
  NSString *primary = [multi primaryIdentifier];
  for (NSUInteger i = 0; i < count; ++i) {
    vcard::TypedValue typed;
    typed.value = utf8([multi valueAtIndex:i]);
    if (typed.value.empty()) continue;
    typed.types = typesForLabel([multi labelAtIndex:i], table);
    // With one entry, being primary says nothing; with several, it picks the preferred one.
    typed.preferred = count > 1 && [[multi identifierAtIndex:i] isEqual:primary];
    out.push_back(typed);
  }
  return out;
}

KXMutableMultiValue *multiValue(const std::vector<vcard::TypedValue> &values,
                                const std::vector<LabelTypes> &table, NSString *fallback) {
  KXMutableMultiValue *multi = [[[KXMutableMultiValue alloc] init] autorelease];
  NSString *preferred = nil;
  for (const vcard::TypedValue &typed : values) {
    NSString *value = nsString(typed.value);
    if (value == nil || [value length] == 0) continue;
    NSString *identifier = [multi addValue:value withLabel:labelForTypes(typed.types, table, fallback)];
    if (typed.preferred && preferred == nil) preferred = identifier;
  }
  if (preferred != nil) [multi setPrimaryIdentifier:preferred];
  return [multi count] > 0 ? multi : nil;
}

// The address keys and the card's fields, in the order the card writes them.
struct AddressField {
  NSString *const *key;
  std::string vcard::PostalAddress::*field;
};

const AddressField kAddressFields[] = {{&KXAddressStreetKey, &vcard::PostalAddress::street},
                                       {&KXAddressCityKey, &vcard::PostalAddress::city},
                                       {&KXAddressStateKey, &vcard::PostalAddress::region},
                                       {&KXAddressZIPKey, &vcard::PostalAddress::postalCode},
                                       {&KXAddressCountryKey, &vcard::PostalAddress::country}};

std::vector<vcard::PostalAddress> postalAddresses(id value) {
  std::vector<vcard::PostalAddress> out;
  if (![value isKindOfClass:[KXMultiValue class]]) return out;
  KXMultiValue *multi = value;
  NSUInteger count = [multi count];
  NSString *primary = [multi primaryIdentifier];
  for (NSUInteger i = 0; i < count; ++i) {
    id entry = [multi valueAtIndex:i];
    if (![entry isKindOfClass:[NSDictionary class]]) continue;
    vcard::PostalAddress address;
    bool any = false;
    for (const AddressField &f : kAddressFields) {
      address.*f.field = utf8([entry objectForKey:*f.key]);
      any = any || !(address.*f.field).empty();
    }
    if (!any) continue;
    address.types = typesForLabel([multi labelAtIndex:i], addressLabels());
    address.preferred = count > 1 && [[multi identifierAtIndex:i] isEqual:primary];
    out.push_back(address);
  }
  return out;
}

KXMutableMultiValue *addressMultiValue(const std::vector<vcard::PostalAddress> &addresses) {
  KXMutableMultiValue *multi = [[[KXMutableMultiValue alloc] init] autorelease];
  NSString *preferred = nil;
  for (const vcard::PostalAddress &address : addresses) {
    NSMutableDictionary *entry = [NSMutableDictionary dictionary];
    for (const AddressField &f : kAddressFields) {
      NSString *text = nsString(address.*f.field);
      if (text != nil && [text length] > 0) [entry setObject:text forKey:*f.key];
    }
    if ([entry count] == 0) continue;
    NSString *identifier =
        [multi addValue:entry withLabel:labelForTypes(address.types, addressLabels(), KXOtherLabel)];
    if (address.preferred && preferred == nil) preferred = identifier;
  }
  if (preferred != nil) [multi setPrimaryIdentifier:preferred];
  return [multi count] > 0 ? multi : nil;
}

void setText(KXPerson *person, NSString *property, const std::string &text) {
  NSString *value = nsString(text);
  if (value != nil && [value length] > 0) [person setValue:value forProperty:property];
}

}  // namespace

vcard::Card cardFromPerson(KXPerson *person, const std::vector<std::string> &groupNames) {
  vcard::Card card;
  card.uid = utf8([person uniqueId]);
  card.givenName = utf8([person valueForProperty:KXFirstNameProperty]);
  card.familyName = utf8([person valueForProperty:KXLastNameProperty]);
  card.additionalNames = utf8([person valueForProperty:KXMiddleNameProperty]);
  card.nickname = utf8([person valueForProperty:KXNicknameProperty]);
  card.organization = utf8([person valueForProperty:KXOrganizationProperty]);
  card.department = utf8([person valueForProperty:KXDepartmentProperty]);
  card.title = utf8([person valueForProperty:KXJobTitleProperty]);
  card.note = utf8([person valueForProperty:KXNoteProperty]);
  card.emails = typedValues([person valueForProperty:KXEmailProperty], emailLabels());
  card.phones = typedValues([person valueForProperty:KXPhoneProperty], phoneLabels());
  card.addresses = postalAddresses([person valueForProperty:KXAddressProperty]);
  card.categories = groupNames;
  return card;
}

KXPerson *newPersonFromCard(const vcard::Card &card) {
  KXPerson *person = [[KXPerson alloc] init];
  setText(person, KXFirstNameProperty, card.givenName);
  setText(person, KXLastNameProperty, card.familyName);
  setText(person, KXMiddleNameProperty, card.additionalNames);
  // A card that names its person by FN alone keeps that name as the last name; an FN that only
  // repeats the organisation or the e-mail address (as written for persons without names) is
  // no name.
  bool noNames = card.givenName.empty() && card.familyName.empty() && card.additionalNames.empty();
  bool fnRepeats = card.formattedName == card.organization ||
                   (!card.emails.empty() && card.formattedName == card.emails.front().value);
  if (noNames && !fnRepeats) setText(person, KXLastNameProperty, card.formattedName);
  setText(person, KXNicknameProperty, card.nickname);
  setText(person, KXOrganizationProperty, card.organization);
  setText(person, KXDepartmentProperty, card.department);
  setText(person, KXJobTitleProperty, card.title);
  setText(person, KXNoteProperty, card.note);
  KXMutableMultiValue *emails = multiValue(card.emails, emailLabels(), KXEmailOtherLabel);
  if (emails != nil) [person setValue:emails forProperty:KXEmailProperty];
  KXMutableMultiValue *phones = multiValue(card.phones, phoneLabels(), KXOtherLabel);
  if (phones != nil) [person setValue:phones forProperty:KXPhoneProperty];
  KXMutableMultiValue *addresses = addressMultiValue(card.addresses);
  if (addresses != nil) [person setValue:addresses forProperty:KXAddressProperty];
  return person;
}

}  // namespace kindex
