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
      {&KXPhoneWorkLabel, {"WORK"}},           {&KXPhoneHomeLabel, {"HOME"}},
      {&KXPhoneMobileLabel, {"CELL"}},         {&KXPhoneMainLabel, {"MAIN"}},
      {&KXPhoneHomeFaxLabel, {"HOME", "FAX"}}, {&KXPhoneWorkFaxLabel, {"WORK", "FAX"}},
      {&KXPhonePagerLabel, {"PAGER"}},         {&KXOtherLabel, {"OTHER"}}};
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

// One e-mail, phone or address of a card on its way to or from a multi-value: the value, the
// TYPE words for its label, and its preference rank (0 for none, 1 the most preferred).
template <typename Value>
struct Entry {
  Value value;
  std::vector<std::string> types;
  int rank = 0;
};

// The entries of a multi-value with their labels as TYPE words; with one entry, being primary
// says nothing, with several it picks the preferred one.
template <typename Value>
std::vector<Entry<Value>> entries(id value, const std::vector<LabelTypes> &table, Value (*convert)(id)) {
  std::vector<Entry<Value>> out;
  if (![value isKindOfClass:[KXMultiValue class]]) return out;
  KXMultiValue *multi = value;
  NSUInteger count = [multi count];
  NSString *primary = [multi primaryIdentifier];
  for (NSUInteger i = 0; i < count; ++i) {
    Entry<Value> entry;
    entry.value = convert([multi valueAtIndex:i]);
    if (entry.value.empty()) continue;
    entry.types = typesForLabel([multi labelAtIndex:i], table);
    entry.rank = count > 1 && [[multi identifierAtIndex:i] isEqual:primary] ? 1 : 0;
    out.push_back(entry);
  }
  return out;
}

std::string textOf(id value) {
  return utf8(value);
}

// The address keys in the order of ADR's street, locality, region, postal code and country
// (ADR's post-office box and extended address come before them and are not kept).
NSString *const *const kAddressKeys[] = {&KXAddressStreetKey, &KXAddressCityKey, &KXAddressStateKey,
                                         &KXAddressZIPKey, &KXAddressCountryKey};

std::vector<std::string> addressFields(id value) {
  std::vector<std::string> fields;
  if (![value isKindOfClass:[NSDictionary class]]) return fields;
  bool any = false;
  for (NSString *const *key : kAddressKeys) {
    fields.push_back(utf8([value objectForKey:*key]));
    any = any || !fields.back().empty();
  }
  if (!any) fields.clear();
  return fields;
}

template <typename Value>
void addEntries(vcard::Card &card, const char *name, const std::vector<Entry<Value>> &values,
                std::string (*format)(const Value &), const char *extraType) {
  for (const Entry<Value> &entry : values) {
    vcard::Property &p = card.add(name, format(entry.value));
    std::vector<std::string> types;
    if (extraType) types.push_back(extraType);
    types.insert(types.end(), entry.types.begin(), entry.types.end());
    if (entry.rank > 0) types.push_back("PREF");
    if (!types.empty()) p.setParam("TYPE", types);
  }
}

std::string textValue(const std::string &text) {
  return vcard::textValue(text);
}

std::string addressValue(const std::vector<std::string> &fields) {
  std::vector<std::vector<std::string>> components = {{}, {}};
  for (const std::string &field : fields) components.push_back({field});
  return vcard::structuredValue(components);
}

// A card's e-mails or phones: TYPE words without PREF (and without INTERNET, which every e-mail
// address is), and the preference.
std::vector<Entry<std::string>> typedEntries(const vcard::Card &card, const char *name, bool dropInternet) {
  std::vector<Entry<std::string>> out;
  for (const vcard::Property *p : card.findAll(name)) {
    Entry<std::string> entry;
    entry.value = p->text();
    entry.rank = p->preference();
    for (const std::string &type : p->types()) {
      std::string key = upper(type);
      if (key != "PREF" && !(dropInternet && key == "INTERNET")) entry.types.push_back(type);
    }
    out.push_back(entry);
  }
  return out;
}

// The items of a component joined as the single text a person's field holds.
std::string joined(const std::vector<std::vector<std::string>> &components, size_t i) {
  if (i >= components.size()) return std::string();
  std::string out;
  for (size_t k = 0; k < components[i].size(); ++k) out += (k ? "," : "") + components[i][k];
  return out;
}

template <typename Value>
KXMutableMultiValue *multiValue(const std::vector<Entry<Value>> &values, const std::vector<LabelTypes> &table,
                                NSString *fallback, id (*convert)(const Value &)) {
  KXMutableMultiValue *multi = [[[KXMutableMultiValue alloc] init] autorelease];
  NSString *preferred = nil;
  int best = 0;
  for (const Entry<Value> &entry : values) {
    id value = convert(entry.value);
    if (value == nil) continue;
    NSString *identifier = [multi addValue:value withLabel:labelForTypes(entry.types, table, fallback)];
    if (entry.rank > 0 && (best == 0 || entry.rank < best)) best = entry.rank, preferred = identifier;
  }
  if (preferred != nil) [multi setPrimaryIdentifier:preferred];
  return [multi count] > 0 ? multi : nil;
}

id stringObject(const std::string &text) {
  NSString *value = nsString(text);
  return value != nil && [value length] > 0 ? value : nil;
}

id addressObject(const std::vector<std::string> &fields) {
  NSMutableDictionary *entry = [NSMutableDictionary dictionary];
  for (size_t i = 0; i < fields.size() && i < 5; ++i) {
    NSString *text = nsString(fields[i]);
    if (text != nil && [text length] > 0) [entry setObject:text forKey:*kAddressKeys[i]];
  }
  return [entry count] > 0 ? entry : nil;
}

void setText(KXPerson *person, NSString *property, const std::string &text) {
  NSString *value = nsString(text);
  if (value != nil && [value length] > 0) [person setValue:value forProperty:property];
}

}  // namespace

vcard::Card cardFromPerson(KXPerson *person, const std::vector<std::string> &groupNames) {
  vcard::Card card;
  card.add("N", vcard::structuredValue({{utf8([person valueForProperty:KXLastNameProperty])},
                                        {utf8([person valueForProperty:KXFirstNameProperty])},
                                        {utf8([person valueForProperty:KXMiddleNameProperty])},
                                        {},
                                        {}}));
  std::string nickname = utf8([person valueForProperty:KXNicknameProperty]);
  if (!nickname.empty()) card.add("NICKNAME", textValue(nickname));
  std::string organization = utf8([person valueForProperty:KXOrganizationProperty]);
  std::string department = utf8([person valueForProperty:KXDepartmentProperty]);
  if (!organization.empty() || !department.empty())
    card.add("ORG", textValue(organization) + (department.empty() ? "" : ";" + textValue(department)));
  std::string title = utf8([person valueForProperty:KXJobTitleProperty]);
  if (!title.empty()) card.add("TITLE", textValue(title));
  addEntries(card, "EMAIL", entries([person valueForProperty:KXEmailProperty], emailLabels(), textOf),
             textValue, "INTERNET");
  addEntries(card, "TEL", entries([person valueForProperty:KXPhoneProperty], phoneLabels(), textOf),
             textValue, nullptr);
  addEntries(card, "ADR",
             entries([person valueForProperty:KXAddressProperty], addressLabels(), addressFields),
             addressValue, nullptr);
  std::string note = utf8([person valueForProperty:KXNoteProperty]);
  if (!note.empty()) card.add("NOTE", textValue(note));
  if (!groupNames.empty()) card.add("CATEGORIES", vcard::listValue(groupNames));
  card.add("UID", textValue(utf8([person uniqueId])));
  return card;
}

KXPerson *newPersonFromCard(const vcard::Card &card) {
  std::string formattedName, given, family, middle, nickname, organization, department, title, note;
  for (const vcard::Property &p : card.properties) {
    if (p.name == "N") {
      std::vector<std::vector<std::string>> parts = p.components();
      family = joined(parts, 0), given = joined(parts, 1), middle = joined(parts, 2);
    } else if (p.name == "FN") {
      formattedName = p.text();
    } else if (p.name == "NICKNAME") {
      nickname = p.text();
    } else if (p.name == "ORG") {
      std::vector<std::vector<std::string>> parts = p.components();
      organization = joined(parts, 0), department = joined(parts, 1);
    } else if (p.name == "TITLE") {
      title = p.text();
    } else if (p.name == "NOTE") {
      note += (note.empty() ? "" : "\n") + p.text();  // a person has one note: several are joined
    }
  }
  std::vector<Entry<std::string>> emails = typedEntries(card, "EMAIL", true);
  std::vector<Entry<std::string>> phones = typedEntries(card, "TEL", false);
  std::vector<Entry<std::vector<std::string>>> addresses;
  for (const vcard::Property *p : card.findAll("ADR")) {
    Entry<std::vector<std::string>> entry;
    std::vector<std::vector<std::string>> parts = p->components();
    for (size_t i = 2; i < 7; ++i) entry.value.push_back(joined(parts, i));
    entry.rank = p->preference();
    for (const std::string &type : p->types())
      if (upper(type) != "PREF") entry.types.push_back(type);
    addresses.push_back(entry);
  }

  KXPerson *person = [[KXPerson alloc] init];
  setText(person, KXFirstNameProperty, given);
  setText(person, KXLastNameProperty, family);
  setText(person, KXMiddleNameProperty, middle);
  // A card that names its person by FN alone keeps that name as the last name; an FN that only
  // repeats the organisation or the e-mail address (as written for persons without names) is
  // no name.
  bool noNames = given.empty() && family.empty() && middle.empty();
  bool fnRepeats =
      formattedName == organization || (!emails.empty() && formattedName == emails.front().value);
  if (noNames && !fnRepeats) setText(person, KXLastNameProperty, formattedName);
  setText(person, KXNicknameProperty, nickname);
  setText(person, KXOrganizationProperty, organization);
  setText(person, KXDepartmentProperty, department);
  setText(person, KXJobTitleProperty, title);
  setText(person, KXNoteProperty, note);
  KXMutableMultiValue *multi = multiValue(emails, emailLabels(), KXEmailOtherLabel, stringObject);
  if (multi != nil) [person setValue:multi forProperty:KXEmailProperty];
  multi = multiValue(phones, phoneLabels(), KXOtherLabel, stringObject);
  if (multi != nil) [person setValue:multi forProperty:KXPhoneProperty];
  multi = multiValue(addresses, addressLabels(), KXOtherLabel, addressObject);
  if (multi != nil) [person setValue:multi forProperty:KXAddressProperty];
  return person;
}

bool cardNamesAPerson(const vcard::Card &card) {
  return card.find("N") != nullptr || card.find("FN") != nullptr;
}

std::vector<std::string> cardCategories(const vcard::Card &card) {
  std::vector<std::string> out;
  for (const vcard::Property *p : card.findAll("CATEGORIES")) {
    std::vector<std::vector<std::string>> components = p->components();
    for (const std::string &category : components.front())
      if (!category.empty()) out.push_back(category);
  }
  return out;
}

}  // namespace kindex
