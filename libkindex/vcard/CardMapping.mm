#import "vcard/CardMapping.h"

#import <Kindex/KXMultiValue.h>
#import <Kindex/KXProperties.h>
#import <Kindex/KXRecord.h>
#import "KXPrivate.h"
#import "coding/KXCodec.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "vcard/VcardReader.h"
#include "vcard/VcardText.h"
#include "vcard/VcardWriter.h"

namespace kx {

namespace {

// The codec's strings: short ASCII texts, nearly all of a card, keep their characters inside
// the string object, which saves an allocation and memory for each of a book's values.
NSString *ns(const std::string &text) {
  return [kx::newString(text.data(), text.size()) autorelease];
}

// Parameter names and the like repeat on every card: one string each.
NSString *shared(const std::string &text) {
  static std::map<std::string, NSString *> known;
  auto it = known.find(text);
  if (it != known.end()) return it->second;
  NSString *made = kx::newString(text.data(), text.size());
  if (known.size() >= 256) return [made autorelease];
  known.emplace(text, made);  // kept for the life of the process
  return made;
}

std::string str(id value) {
  if (![value isKindOfClass:[NSString class]]) return std::string();
  const char *bytes = [(NSString *)value UTF8String];
  return bytes ? std::string(bytes) : std::string();
}

std::string joined(const std::vector<std::string> &items, const char *separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
  return out;
}

// ---- Values: how a property's value reads as record values and is written from them.

// A single text (FN, NOTE, ...), a list of parts (N, ORG, ADR: each part's list items joined
// with commas), or a URI or data that is never escaped (PHOTO).
enum class Kind { Text, Parts, Uri };

struct Shape {
  Kind kind;
  size_t parts;     // Parts: how many the record keeps
  size_t minParts;  // Parts: how many are always written
};

const Shape kText{Kind::Text, 1, 1};
const Shape kUri{Kind::Uri, 1, 1};
const Shape kName{Kind::Parts, 5, 5};
const Shape kOrganization{Kind::Parts, 2, 1};
const Shape kAddress{Kind::Parts, 7, 7};

std::vector<std::string> decode(const Shape &shape, const std::string &value) {
  if (shape.kind == Kind::Uri) return {value};
  if (shape.kind == Kind::Text) return {vcard::unescapeText(value)};
  std::vector<std::string> out;
  for (const std::string &part : vcard::splitEscaped(value, ';')) {
    std::vector<std::string> items;
    for (const std::string &item : vcard::splitEscaped(part, ',')) items.push_back(vcard::unescapeText(item));
    out.push_back(joined(items, ","));
  }
  out.resize(shape.parts);
  return out;
}

std::string encode(const Shape &shape, const std::vector<std::string> &fields) {
  if (shape.kind == Kind::Uri) return fields[0];
  if (shape.kind == Kind::Text) return vcard::escapeText(fields[0]);
  size_t count = fields.size();
  while (count > shape.minParts && fields[count - 1].empty()) --count;
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i ? ";" : "") + vcard::escapeText(fields[i]);
  return out;
}

// ---- Parameters as attributes, and back.

NSString *paramText(const vcard::Parameter &param) {
  std::vector<std::string> values;
  for (const std::string &v : param.values) values.push_back(vcard::encodeParamValue(v));
  return shared(joined(values, ","));
}

// Undoes paramText: splits outside quotes, drops the quotes, undoes the ^-escapes.
std::vector<std::string> paramValues(const std::string &text) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  for (std::string &v : out) v = vcard::decodeCaretEscapes(v);
  return out;
}

bool isParameterKey(NSString *key) {
  return [key length] > 0 &&
         ![[NSCharacterSet lowercaseLetterCharacterSet] characterIsMember:[key characterAtIndex:0]];
}

// nil when the property has neither parameters nor a group (most have none).
NSMutableDictionary *attributesOf(const vcard::Property &p, const std::vector<std::string> &skip = {}) {
  if (p.params.empty() && p.group.empty()) return nil;
  NSMutableDictionary *attributes = [NSMutableDictionary dictionary];
  for (const vcard::Parameter &param : p.params) {
    if (std::find(skip.begin(), skip.end(), param.name) != skip.end()) continue;
    [attributes setObject:paramText(param) forKey:shared(param.name)];
  }
  if (!p.group.empty()) [attributes setObject:shared(p.group) forKey:KXVCardGroupAttribute];
  return attributes;
}

// Sets an attribute, making the dictionary on first use.
void put(NSMutableDictionary *&attributes, id value, NSString *key) {
  if (attributes == nil) attributes = [NSMutableDictionary dictionary];
  [attributes setObject:value forKey:key];
}

// The parameters and group of attributes onto p: TYPE first, then the others by name, so
// that a record always writes the same text.
void applyAttributes(NSDictionary *attributes, vcard::Property &p) {
  p.group = str([attributes objectForKey:KXVCardGroupAttribute]);
  NSArray *keys = [[attributes allKeys] sortedArrayUsingSelector:@selector(compare:)];
  if (NSString *type = [attributes objectForKey:@"TYPE"]) p.setParam("TYPE", paramValues(str(type)));
  for (NSUInteger i = 0; i < [keys count]; ++i) {
    NSString *key = [keys objectAtIndex:i];
    if (!isParameterKey(key) || [key isEqualToString:@"TYPE"]) continue;
    p.setParam(str(key), paramValues(str([attributes objectForKey:key])));
  }
}

NSDictionary *frozen(NSMutableDictionary *attributes) {
  return [attributes count] > 0 ? [[attributes copy] autorelease] : nil;
}

// The value as written goes along when the record's values alone would be written otherwise.
void keepWrittenValue(NSMutableDictionary *&attributes, const Shape &shape, const vcard::Property &p,
                      const std::vector<std::string> &fields) {
  if (encode(shape, fields) != p.value) put(attributes, ns(p.value), KXVCardValueAttribute);
}

// What to write for fields: the value as written while it still reads as them.
std::string valueToWrite(const Shape &shape, NSDictionary *attributes,
                         const std::vector<std::string> &fields) {
  NSString *written = [attributes objectForKey:KXVCardValueAttribute];
  if (written != nil && decode(shape, str(written)) == fields) return str(written);
  return encode(shape, fields);
}

// ---- The properties the library names.

struct Single {
  const char *name;  // the standard (4.0) name
  Shape shape;
  NSString *const *keys[5];
};

// Persons. UID and CATEGORIES are mapped apart; their parameters are kept all the same.
const Single kPersonSingles[] = {
    {"FN", kText, {&KXFormattedNameProperty}},
    {"N",
     kName,
     {&KXLastNameProperty, &KXFirstNameProperty, &KXMiddleNameProperty, &KXNamePrefixProperty,
      &KXNameSuffixProperty}},
    {"NICKNAME", kText, {&KXNicknameProperty}},
    {"X-PHONETIC-FIRST-NAME", kText, {&KXPhoneticFirstNameProperty}},
    {"X-PHONETIC-MIDDLE-NAME", kText, {&KXPhoneticMiddleNameProperty}},
    {"X-PHONETIC-LAST-NAME", kText, {&KXPhoneticLastNameProperty}},
    {"ORG", kOrganization, {&KXOrganizationProperty, &KXDepartmentProperty}},
    {"TITLE", kText, {&KXJobTitleProperty}},
    {"ROLE", kText, {&KXRoleProperty}},
    {"BDAY", kText, {&KXBirthdayProperty}},
    {"ANNIVERSARY", kText, {&KXAnniversaryProperty}},
    {"GENDER", kText, {&KXGenderProperty}},
    {"NOTE", kText, {&KXNoteProperty}},
    {"PHOTO", kUri, {&KXPhotoProperty}},
};

const Single kGroupSingles[] = {
    {"FN", kText, {&KXGroupNameProperty}},
};

size_t keyCount(const Single &single) {
  size_t n = 0;
  while (n < 5 && single.keys[n] != nullptr) ++n;
  return n;
}

// Labels and the TYPE sets they stand for. The first row whose set the TYPE set equals gives
// the label, else the first whose set it holds; types that say nothing of the label (an
// e-mail is INTERNET, a phone VOICE) are left out of that comparison and kept when a new
// label's TYPE is written.
struct LabelRow {
  NSString *const *label;
  std::vector<std::string> types;
};

struct Multi {
  const char *name;  // the standard name
  NSString *const *key;
  Shape shape;
  std::vector<LabelRow> labels;
  std::vector<std::string> neutral;  // types that name no label
};

const std::vector<Multi> &multis() {
  static const std::vector<LabelRow> plain = {
      {&KXWorkLabel, {"WORK"}}, {&KXHomeLabel, {"HOME"}}, {&KXOtherLabel, {"OTHER"}}};
  static const std::vector<Multi> table = {
      {"EMAIL", &KXEmailProperty, kText, plain, {"INTERNET", "PREF", "X400"}},
      {"TEL",
       &KXPhoneProperty,
       kText,
       {{&KXPhoneHomeFaxLabel, {"HOME", "FAX"}},
        {&KXPhoneWorkFaxLabel, {"WORK", "FAX"}},
        {&KXPhoneMobileLabel, {"CELL"}},
        {&KXPhoneMainLabel, {"MAIN"}},
        {&KXPhonePagerLabel, {"PAGER"}},
        {&KXPhoneOtherFaxLabel, {"FAX"}},
        {&KXPhoneWorkLabel, {"WORK"}},
        {&KXPhoneHomeLabel, {"HOME"}},
        {&KXOtherLabel, {"OTHER"}}},
       {"VOICE", "PREF"}},
      {"ADR", &KXAddressProperty, kAddress, plain, {"PREF", "POSTAL", "PARCEL", "DOM", "INTL"}},
      {"URL", &KXURLProperty, kText, plain, {"PREF"}},
      {"IMPP", &KXInstantMessageProperty, kText, plain, {"PREF"}},
      {"RELATED", &KXRelatedNamesProperty, kText, {}, {"PREF"}},
  };
  return table;
}

// Apple writes related names under a name of its own.
const char *const kAppleRelated = "X-ABRELATEDNAMES";

const Multi *multiFor(const vcard::Property &p) {
  std::string_view name = p.standardName();
  if (name == kAppleRelated) name = "RELATED";
  for (const Multi &m : multis())
    if (name == m.name) return &m;
  return nullptr;
}

NSString *const *const kAddressKeyRefs[7] = {&KXAddressPOBoxKey,  &KXAddressExtendedKey, &KXAddressStreetKey,
                                             &KXAddressCityKey,   &KXAddressStateKey,    &KXAddressZIPKey,
                                             &KXAddressCountryKey};

std::vector<std::string> meaningfulTypes(const std::vector<std::string> &types, const Multi &m) {
  std::vector<std::string> out;
  for (const std::string &t : types) {
    std::string upper = vcard::upperAscii(t);
    if (std::find(m.neutral.begin(), m.neutral.end(), upper) == m.neutral.end()) out.push_back(upper);
  }
  return out;
}

bool holdsAll(const std::vector<std::string> &have, const std::vector<std::string> &wanted) {
  for (const std::string &t : wanted)
    if (std::find(have.begin(), have.end(), t) == have.end()) return false;
  return true;
}

NSString *labelForTypes(const std::vector<std::string> &types, const Multi &m) {
  std::vector<std::string> meaningful = meaningfulTypes(types, m);
  if (meaningful.empty()) return nil;
  std::sort(meaningful.begin(), meaningful.end());
  meaningful.erase(std::unique(meaningful.begin(), meaningful.end()), meaningful.end());
  for (const LabelRow &row : m.labels)
    if (row.types.size() == meaningful.size() && holdsAll(meaningful, row.types)) return *row.label;
  for (const LabelRow &row : m.labels)
    if (holdsAll(meaningful, row.types)) return *row.label;
  return nil;
}

const LabelRow *rowForLabel(NSString *label, const Multi &m) {
  for (const LabelRow &row : m.labels)
    if ([label isEqualToString:*row.label]) return &row;
  return nullptr;
}

// ---- Reading a card.

// Whether 3.0 writes the property otherwise than the card holds it (see VcardWriter.h): its
// preference, binary data and coordinates, and the 4.0 names that 3.0 spells as X- names.
bool differsIn30(const vcard::Property &p, bool v4) {
  if (p.param("PREF") != nullptr || p.name == "GEO") return true;
  // Binary data that 3.0 holds already (ENCODING=b) stays as it is; a URI or a data: URI does not.
  if (vcard::isMediaProperty(p.name)) return p.param("ENCODING") == nullptr;
  return v4 && vcard::nameIn30(p.name) != p.name;
}

// The card's properties as the record keeps them: in the forms of 3.0 whatever version the
// card was (TYPE=pref, not PREF=1), so that a record written as 4.0 and read back is the
// record it was. Only those that differ are copied.
struct Reading {
  std::vector<const vcard::Property *> props;
  std::vector<bool> used;               // per property: mapped to a value
  std::vector<std::string_view> names;  // per property: its standard name
  std::vector<const Multi *> multis;    // per property: the multi-value it goes into, or none
  std::vector<vcard::Property> converted;

  explicit Reading(const vcard::Card &card) : used(card.properties.size(), false) {
    bool v4 = card.version == "4.0";
    size_t count = 0;
    for (const vcard::Property &p : card.properties) count += differsIn30(p, v4);
    converted.reserve(count);  // no reallocation: props point into it
    for (const vcard::Property &p : card.properties) {
      if (differsIn30(p, v4)) {
        converted.push_back(vcard::convertedProperty(p, vcard::Version::v3));
        props.push_back(&converted.back());
      } else {
        props.push_back(&p);
      }
      names.push_back(props.back()->standardName());
      multis.push_back(multiFor(*props.back()));
    }
  }
};

// PHOTO's data becomes a data: URI: its ENCODING, its format (the first TYPE) and VALUE=uri
// say nothing the URI does not.
void readSingle(const Single &single, const vcard::Property &p, CardValues &values,
                KXMutableMultiValue *parameters) {
  std::string mediaType, data;
  bool binary =
      single.shape.kind == Kind::Uri && p.param("ENCODING") != nullptr && p.binaryData(mediaType, data);
  std::vector<std::string> fields, skip;
  if (binary) {
    // A photo is most of a card's bytes: made in one piece, not copied on.
    fields.emplace_back();
    fields[0].reserve(mediaType.size() + data.size() + 13);
    fields[0].append("data:").append(mediaType).append(";base64,").append(data);
    skip = {"ENCODING", "TYPE", "VALUE"};
  } else {
    fields = decode(single.shape, p.value);
    if (single.shape.kind == Kind::Uri) skip = {"VALUE"};
  }
  NSMutableDictionary *attributes = attributesOf(p, skip);
  // A PHOTO's other TYPE values stay: only the format goes into the URI.
  if (binary) {
    std::vector<std::string> types = p.types();
    if (types.size() > 1) {
      vcard::Parameter rest{"TYPE", std::vector<std::string>(types.begin() + 1, types.end())};
      put(attributes, paramText(rest), @"TYPE");
    }
  } else if (single.shape.kind != Kind::Uri) {
    keepWrittenValue(attributes, single.shape, p, fields);
  }
  bool any = false;
  for (size_t k = 0; k < keyCount(single); ++k) {
    if (fields[k].empty()) continue;
    values.strings.push_back({*single.keys[k], ns(fields[k])});
    any = true;
  }
  // A property without a value is kept by its entry alone.
  if ([attributes count] > 0 || !any)
    [parameters addValue:attributes != nil ? attributes : [NSDictionary dictionary]
               withLabel:ns(single.name)];
}

// Each single property the library names takes the first of the card's properties of its
// name, in the order of the table, so that a record's parameters always come in one order.
template <size_t N>
void readSingles(Reading &r, const Single (&singles)[N], CardValues &values,
                 KXMutableMultiValue *parameters) {
  size_t first[N];
  std::fill(first, first + N, r.props.size());
  for (size_t i = 0; i < r.props.size(); ++i) {
    if (r.used[i]) continue;
    for (size_t s = 0; s < N; ++s) {
      if (r.names[i] != singles[s].name) continue;
      if (first[s] == r.props.size()) first[s] = i;
      break;
    }
  }
  for (size_t s = 0; s < N; ++s) {
    if (first[s] == r.props.size()) continue;
    r.used[first[s]] = true;
    readSingle(singles[s], *r.props[first[s]], values, parameters);
  }
}

// The groups (item1) of the multi-value entries: an X-ABLabel of such a group is the label of
// the one entry in it.
std::map<std::string, size_t> labelledGroups(const Reading &r) {
  std::map<std::string, int> entries;
  for (size_t i = 0; i < r.props.size(); ++i)
    if (!(*r.props[i]).group.empty() && r.multis[i] != nullptr) entries[(*r.props[i]).group]++;
  std::map<std::string, size_t> labels;
  for (size_t i = 0; i < r.props.size(); ++i) {
    const vcard::Property &p = (*r.props[i]);
    if (p.name != "X-ABLABEL" || p.group.empty() || !p.params.empty()) continue;
    auto it = entries.find(p.group);
    if (it != entries.end() && it->second == 1 && labels.count(p.group) == 0) labels[p.group] = i;
  }
  return labels;
}

void readMultis(Reading &r, CardValues &values) {
  std::map<std::string, size_t> labels = labelledGroups(r);
  for (const Multi &m : multis()) {
    std::vector<CardEntry> entries;
    for (size_t i = 0; i < r.props.size(); ++i) {
      const vcard::Property &p = (*r.props[i]);
      if (r.used[i] || r.multis[i] != &m) continue;
      r.used[i] = true;
      NSMutableDictionary *attributes = attributesOf(p);
      if (p.name == kAppleRelated) put(attributes, ns(p.name), KXVCardNameAttribute);
      std::vector<std::string> fields = decode(m.shape, p.value);
      keepWrittenValue(attributes, m.shape, p, fields);
      id value;
      if (m.shape.kind == Kind::Parts) {
        NSMutableDictionary *address = [NSMutableDictionary dictionary];
        for (size_t k = 0; k < 7; ++k)
          if (!fields[k].empty()) [address setObject:ns(fields[k]) forKey:*kAddressKeyRefs[k]];
        value = [[address copy] autorelease];
      } else {
        value = ns(fields[0]);
      }
      NSString *label = labelForTypes(p.types(), m);
      auto labelled = p.group.empty() ? labels.end() : labels.find(p.group);
      if (labelled != labels.end()) {
        r.used[labelled->second] = true;
        label = ns((*r.props[labelled->second]).text());
        put(attributes, label, KXVCardLabelAttribute);
      }
      if (value != nil) entries.push_back({value, label, frozen(attributes), p.preference()});
    }
    if (!entries.empty()) values.lists.push_back({*m.key, entries});
  }
}

void readUid(Reading &r, KXMutableMultiValue *parameters) {
  for (size_t i = 0; i < r.props.size(); ++i) {
    const vcard::Property &p = (*r.props[i]);
    if (p.name != "UID") continue;
    r.used[i] = true;
    NSMutableDictionary *attributes = attributesOf(p);
    keepWrittenValue(attributes, kText, p, {p.text()});
    if ([attributes count] > 0) [parameters addValue:attributes withLabel:@"UID"];
    return;
  }
}

void readCategories(Reading &r, CardValues &values, KXMutableMultiValue *parameters) {
  bool first = true;
  for (size_t i = 0; i < r.props.size(); ++i) {
    const vcard::Property &p = (*r.props[i]);
    if (p.name != "CATEGORIES") continue;
    r.used[i] = true;
    std::vector<std::string> names;
    for (const std::string &item : vcard::splitEscaped(p.value, ','))
      if (!vcard::unescapeText(item).empty()) names.push_back(vcard::unescapeText(item));
    values.categories.insert(values.categories.end(), names.begin(), names.end());
    if (!first) continue;
    first = false;
    NSMutableDictionary *attributes = attributesOf(p);
    if (vcard::listValue(names) != p.value) put(attributes, ns(p.value), KXVCardValueAttribute);
    if ([attributes count] > 0) [parameters addValue:attributes withLabel:@"CATEGORIES"];
  }
}

void readGroupParts(Reading &r, CardValues &values, KXMutableMultiValue *parameters, bool v4) {
  bool kindSeen = false;
  for (size_t i = 0; i < r.props.size(); ++i) {
    const vcard::Property &p = (*r.props[i]);
    std::string_view name = r.names[i];
    // An empty N is what 3.0 makes a group card carry, not something the group says.
    if (name == "N" && !v4 && p.params.empty() && p.group.empty() &&
        p.value.find_first_not_of(";") == std::string::npos) {
      r.used[i] = true;
      continue;
    }
    if (name == "KIND" && !kindSeen && vcard::upperAscii(p.text()) == "GROUP") {
      kindSeen = true;
      r.used[i] = true;
      NSMutableDictionary *attributes = attributesOf(p);
      if ([attributes count] > 0) [parameters addValue:attributes withLabel:@"KIND"];
    } else if (name == "MEMBER") {
      r.used[i] = true;
      values.members.push_back(p.text());
      values.memberLines.push_back(vcard::contentLine(p));
    }
  }
}

void addParametersAndOthers(Reading &r, CardValues &values, KXMutableMultiValue *parameters) {
  std::vector<CardEntry> others;
  for (size_t i = 0; i < r.props.size(); ++i) {
    const vcard::Property &p = (*r.props[i]);
    if (r.used[i] || p.name == "PRODID" || p.name == "VERSION") continue;
    others.push_back({ns(vcard::contentLine(p)), nil, nil, 0});
  }
  if (!others.empty()) values.lists.push_back({KXOtherVCardPropertiesProperty, others});
  std::vector<CardEntry> kept;
  for (NSUInteger i = 0; i < [parameters count]; ++i)
    kept.push_back({[parameters valueAtIndex:i], [parameters labelAtIndex:i], nil, 0});
  if (!kept.empty()) values.lists.push_back({KXVCardParametersProperty, kept});
}

// ---- Writing a card.

// What a record keeps of its card's parameters: by vCard property name.
NSDictionary *parametersByName(KXRecord *record) {
  NSMutableDictionary *out = [NSMutableDictionary dictionary];
  KXMultiValue *kept = [record valueForProperty:KXVCardParametersProperty];
  for (NSUInteger i = 0; i < [kept count]; ++i) {
    NSString *name = [kept labelAtIndex:i];
    if (name != nil && [out objectForKey:name] == nil) [out setObject:[kept valueAtIndex:i] forKey:name];
  }
  return out;
}

std::vector<vcard::Property> otherProperties(KXRecord *record) {
  std::vector<vcard::Property> out;
  KXMultiValue *others = [record valueForProperty:KXOtherVCardPropertiesProperty];
  for (NSUInteger i = 0; i < [others count]; ++i) {
    vcard::Property p;
    std::string error;
    if (vcard::parseProperty(str([others valueAtIndex:i]), p, error)) out.push_back(p);
  }
  return out;
}

struct Writing {
  vcard::Card card;
  std::set<std::string> groups;  // in use, so that a new X-ABLabel gets a group of its own
  int nextGroup = 1;

  std::string freshGroup() {
    while (groups.count("item" + std::to_string(nextGroup)) != 0) ++nextGroup;
    std::string group = "item" + std::to_string(nextGroup);
    groups.insert(group);
    return group;
  }
};

void writeSingle(Writing &w, KXRecord *record, const Single &single, NSDictionary *parameters) {
  NSDictionary *attributes = [parameters objectForKey:ns(single.name)];
  std::vector<std::string> fields;
  bool any = false;
  for (size_t k = 0; k < keyCount(single); ++k) {
    fields.push_back(str([record valueForProperty:*single.keys[k]]));
    any = any || !fields.back().empty();
  }
  fields.resize(std::max<size_t>(fields.size(), single.shape.parts));
  if (!any && attributes == nil) return;
  vcard::Property p(single.name, valueToWrite(single.shape, attributes, fields));
  applyAttributes(attributes, p);
  w.card.properties.push_back(p);
}

bool hasPref(const vcard::Property &p) {
  return p.param("PREF") != nullptr || p.hasType("PREF");
}

void writeEntry(Writing &w, const Multi &m, KXMultiValue *multi, NSUInteger i, bool primary) {
  id value = [multi valueAtIndex:i];
  NSString *label = [multi labelAtIndex:i];
  NSDictionary *attributes = [multi attributesAtIndex:i];
  std::vector<std::string> fields;
  if (m.shape.kind == Kind::Parts) {
    if (![value isKindOfClass:[NSDictionary class]]) return;
    for (size_t k = 0; k < 7; ++k) fields.push_back(str([value objectForKey:*kAddressKeyRefs[k]]));
  } else {
    fields.push_back(str(value));
  }
  NSString *name = [attributes objectForKey:KXVCardNameAttribute];
  vcard::Property p(name != nil ? str(name) : m.name, valueToWrite(m.shape, attributes, fields));
  applyAttributes(attributes, p);
  NSString *readLabel = [attributes objectForKey:KXVCardLabelAttribute];
  bool asRead =
      readLabel != nil ? sameValue(label, readLabel) : sameValue(label, labelForTypes(p.types(), m));
  NSString *newLabel = nil;
  if (!asRead) {
    // The label changed since the card was read: the TYPE of the new label, beside the types
    // that name no label; a label of its own goes into an X-ABLabel.
    std::vector<std::string> types;
    for (const std::string &t : p.types()) {
      std::string upper = vcard::upperAscii(t);
      if (std::find(m.neutral.begin(), m.neutral.end(), upper) != m.neutral.end()) types.push_back(t);
    }
    const LabelRow *row = label != nil ? rowForLabel(label, m) : nullptr;
    if (row != nullptr) types.insert(types.end(), row->types.begin(), row->types.end());
    if (types.empty()) {
      p.removeParam("TYPE");
    } else {
      p.setParam("TYPE", types);
    }
    if (label != nil && row == nullptr) {
      newLabel = label;
      if (p.group.empty()) p.group = w.freshGroup();
    }
  } else if (readLabel != nil) {
    newLabel = readLabel;
  }
  if (primary && !hasPref(p)) p.addType("pref");
  w.card.properties.push_back(p);
  if (newLabel != nil) {
    vcard::Property x("X-ABLabel", vcard::textValue(str(newLabel)));
    x.group = p.group;
    w.card.properties.push_back(x);
  }
}

void writeMultis(Writing &w, KXRecord *record) {
  for (const Multi &m : multis()) {
    KXMultiValue *multi = [record valueForProperty:*m.key];
    if (![multi isKindOfClass:[KXMultiValue class]]) continue;
    // A primary chosen among several, other than the first, is a preference the card states.
    NSUInteger primary = [multi indexForIdentifier:[multi primaryIdentifier]];
    for (NSUInteger i = 0; i < [multi count]; ++i)
      writeEntry(w, m, multi, i, [multi count] > 1 && primary != 0 && i == primary);
  }
}

void collectGroups(Writing &w, KXRecord *record, const std::vector<vcard::Property> &others) {
  for (const vcard::Property &p : others)
    if (!p.group.empty()) w.groups.insert(p.group);
  NSArray *keys = [record properties];
  for (NSUInteger k = 0; k < [keys count]; ++k) {
    id value = [record valueForProperty:[keys objectAtIndex:k]];
    if (![value isKindOfClass:[KXMultiValue class]]) continue;
    for (NSUInteger i = 0; i < [value count]; ++i) {
      id attributes = [value attributesAtIndex:i];
      id source =
          [[keys objectAtIndex:k] isEqual:KXVCardParametersProperty] ? [value valueAtIndex:i] : attributes;
      NSString *group =
          [source isKindOfClass:[NSDictionary class]] ? [source objectForKey:KXVCardGroupAttribute] : nil;
      if (group != nil) w.groups.insert(str(group));
    }
  }
}

bool isUri(const std::string &text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  for (size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

std::string memberValue(NSString *uid) {
  std::string text = str(uid);
  return isUri(text) ? text : "urn:uuid:" + text;
}

void writeUid(Writing &w, KXRecord *record, NSDictionary *parameters) {
  NSDictionary *attributes = [parameters objectForKey:@"UID"];
  vcard::Property p("UID", valueToWrite(kText, attributes, {str([record uniqueId])}));
  applyAttributes(attributes, p);
  w.card.properties.push_back(p);
}

void writeCategories(Writing &w, KXPerson *person, NSDictionary *parameters, NSDictionary *categories) {
  std::vector<std::string> names;
  NSArray *known = categories != nil ? [categories objectForKey:[person uniqueId]] : nil;
  NSArray *groups = categories != nil ? nil : [person parentGroups];
  for (NSUInteger i = 0; i < [known count]; ++i) names.push_back(str([known objectAtIndex:i]));
  for (NSUInteger i = 0; i < [groups count]; ++i) {
    KXGroup *group = [groups objectAtIndex:i];
    std::string name = str([group valueForProperty:KXGroupNameProperty]);
    if (isCategoryGroup(group) && !name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
  if (names.empty()) return;
  NSDictionary *attributes = [parameters objectForKey:@"CATEGORIES"];
  std::string value = vcard::listValue(names);
  NSString *written = [attributes objectForKey:KXVCardValueAttribute];
  if (written != nil) {
    // Written as it was while it names the same categories.
    std::vector<std::string> before;
    for (const std::string &item : vcard::splitEscaped(str(written), ','))
      if (!vcard::unescapeText(item).empty()) before.push_back(vcard::unescapeText(item));
    std::vector<std::string> now = names;
    std::sort(before.begin(), before.end());
    std::sort(now.begin(), now.end());
    if (before == now) value = str(written);
  }
  vcard::Property p("CATEGORIES", value);
  applyAttributes(attributes, p);
  w.card.properties.push_back(p);
}

}  // namespace

bool isGroupCard(const vcard::Card &card) {
  const vcard::Property *kind = card.find("KIND");
  return kind != nullptr && vcard::upperAscii(kind->text()) == "GROUP";
}

bool cardUid(const vcard::Card &card, std::string *uid) {
  for (const vcard::Property &p : card.properties) {
    if (p.name != "UID") continue;
    *uid = p.text();
    return !uid->empty();
  }
  return false;
}

std::vector<std::string> cardCategories(const vcard::Card &card) {
  std::vector<std::string> out;
  for (const vcard::Property *p : card.findAll("CATEGORIES"))
    for (const std::string &item : vcard::splitEscaped(p->value, ','))
      if (!vcard::unescapeText(item).empty()) out.push_back(vcard::unescapeText(item));
  return out;
}

std::vector<std::string> cardMembers(const vcard::Card &card) {
  std::vector<std::string> out;
  if (!isGroupCard(card)) return out;
  for (const vcard::Property *p : card.findAll("MEMBER")) out.push_back(p->text());
  return out;
}

bool cardNamesSomeone(const vcard::Card &card) {
  return card.find("N") != nullptr || card.find("FN") != nullptr;
}

CardValues valuesFromCard(const vcard::Card &read, bool group) {
  CardValues values;
  Reading r(read);
  KXMutableMultiValue *parameters = [[[KXMutableMultiValue alloc] init] autorelease];
  if (group) {
    readSingles(r, kGroupSingles, values, parameters);
    readGroupParts(r, values, parameters, read.version == "4.0");
  } else {
    readSingles(r, kPersonSingles, values, parameters);
    readMultis(r, values);
    readCategories(r, values, parameters);
  }
  readUid(r, parameters);
  addParametersAndOthers(r, values, parameters);
  return values;
}

const std::vector<NSString *> &cardProperties(bool group) {
  static std::vector<NSString *> person, groupKeys;
  if (person.empty()) {
    for (const Single &single : kPersonSingles)
      for (size_t k = 0; k < keyCount(single); ++k) person.push_back(*single.keys[k]);
    for (const Multi &m : multis()) person.push_back(*m.key);
    for (const Single &single : kGroupSingles)
      for (size_t k = 0; k < keyCount(single); ++k) groupKeys.push_back(*single.keys[k]);
    for (std::vector<NSString *> *keys : {&person, &groupKeys}) {
      keys->push_back(KXVCardParametersProperty);
      keys->push_back(KXOtherVCardPropertiesProperty);
    }
  }
  return group ? groupKeys : person;
}

NSDictionary *categoriesByMember(NSArray *groups) {
  NSMutableDictionary *out = [NSMutableDictionary dictionary];
  for (NSUInteger i = 0; i < [groups count]; ++i) {
    KXGroup *group = [groups objectAtIndex:i];
    NSString *name = [group valueForProperty:KXGroupNameProperty];
    if (!isCategoryGroup(group) || [name length] == 0) continue;
    NSArray *members = [group members];
    for (NSUInteger k = 0; k < [members count]; ++k) {
      NSString *uid = [[members objectAtIndex:k] uniqueId];
      NSMutableArray *names = [out objectForKey:uid];
      if (names == nil) [out setObject:(names = [NSMutableArray array]) forKey:uid];
      if (![names containsObject:name]) [names addObject:name];
    }
  }
  return out;
}

vcard::Card cardFromRecord(KXRecord *record, NSDictionary *categories) {
  Writing w;
  bool group = [record isKindOfClass:[KXGroup class]];
  NSDictionary *parameters = parametersByName(record);
  std::vector<vcard::Property> others = otherProperties(record);
  collectGroups(w, record, others);
  if (group) {
    for (const Single &single : kGroupSingles) writeSingle(w, record, single, parameters);
    vcard::Property kind("KIND", "group");
    applyAttributes([parameters objectForKey:@"KIND"], kind);
    w.card.properties.push_back(kind);
    NSArray *members = [(KXGroup *)record members];
    std::set<std::string> written;
    for (NSUInteger i = 0; i < [members count]; ++i) {
      NSString *uid = [[members objectAtIndex:i] uniqueId];
      w.card.properties.push_back(vcard::Property("MEMBER", memberValue(uid)));
      for (const std::string &candidate : uidCandidates(str(uid))) written.insert(candidate);
    }
    // A MEMBER kept because it named no record is left out once it does.
    std::vector<vcard::Property> kept;
    for (const vcard::Property &p : others)
      if (p.standardName() != "MEMBER" || written.count(p.text()) == 0) kept.push_back(p);
    others.swap(kept);
  } else {
    for (const Single &single : kPersonSingles) writeSingle(w, record, single, parameters);
    writeMultis(w, record);
    writeCategories(w, (KXPerson *)record, parameters, categories);
  }
  w.card.properties.insert(w.card.properties.end(), others.begin(), others.end());
  writeUid(w, record, parameters);
  return w.card;
}

std::vector<std::string> uidCandidates(const std::string &written) {
  static const std::string prefix = "urn:uuid:";
  if (written.size() > prefix.size() && vcard::upperAscii(written.substr(0, prefix.size())) == "URN:UUID:")
    return {written, written.substr(prefix.size())};
  return {written, prefix + written};
}

bool isCategoryGroup(KXRecord *group) {
  if (![group isKindOfClass:[KXGroup class]]) return false;
  KXMultiValue *kept = [group valueForProperty:KXVCardParametersProperty];
  for (NSUInteger i = 0; i < [kept count]; ++i)
    if ([[kept labelAtIndex:i] isEqual:@"CATEGORIES"]) return true;
  return false;
}

}  // namespace kx
