#import "RecordText.h"

#include <cctype>

#include "TextBridge.h"

namespace kindex {

namespace {

std::string field(const std::string &text) {
  std::string out = text;
  for (char &c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

std::string text(KXRecord *record, NSString *property) {
  return utf8([record valueForProperty:property]);
}

KXMultiValue *multi(KXRecord *record, NSString *property) {
  id value = [record valueForProperty:property];
  return [value isKindOfClass:[KXMultiValue class]] ? value : nil;
}

// A label as a reader wants it: "_$!<Work>!$_" is "work".
std::string labelText(NSString *label) {
  std::string raw = utf8(label);
  if (raw.size() > 8 && raw.compare(0, 4, "_$!<") == 0 && raw.compare(raw.size() - 4, 4, ">!$_") == 0) {
    std::string inner = raw.substr(4, raw.size() - 8);
    for (char &c : inner) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return inner;
  }
  return raw;
}

bool contains(id value, NSString *lowered) {
  if (![value isKindOfClass:[NSString class]]) return false;
  return [[(NSString *)value lowercaseString] rangeOfString:lowered].location != NSNotFound;
}

void addLine(std::string &out, const char *name, const std::string &value) {
  if (!value.empty()) out += std::string(name) + ": " + value + "\n";
}

// A multi-value entry as text; a postal address on one line, "PO box, extended address,
// street, ZIP city, state, country", empty parts left out.
std::string entryText(id entry) {
  if (![entry isKindOfClass:[NSDictionary class]]) return utf8(entry);
  std::string zipCity = utf8([entry objectForKey:KXAddressZIPKey]);
  std::string city = utf8([entry objectForKey:KXAddressCityKey]);
  zipCity += (zipCity.empty() || city.empty() ? "" : " ") + city;
  std::string out;
  for (const std::string &part :
       {utf8([entry objectForKey:KXAddressPOBoxKey]), utf8([entry objectForKey:KXAddressExtendedKey]),
        utf8([entry objectForKey:KXAddressStreetKey]), zipCity, utf8([entry objectForKey:KXAddressStateKey]),
        utf8([entry objectForKey:KXAddressCountryKey])}) {
    if (part.empty()) continue;
    out += (out.empty() ? "" : ", ") + part;
  }
  for (char &c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return out;
}

void addMultiLines(std::string &out, const char *name, KXMultiValue *values) {
  for (NSUInteger i = 0; i < [values count]; ++i) {
    std::string label = labelText([values labelAtIndex:i]);
    std::string value = entryText([values valueAtIndex:i]);
    if (value.empty()) continue;
    out += std::string(name) + (label.empty() ? "" : " (" + label + ")") + ": " + value + "\n";
  }
}

}  // namespace

std::string displayName(KXPerson *person) {
  std::string first = text(person, KXFirstNameProperty);
  std::string last = text(person, KXLastNameProperty);
  std::string name = first + (first.empty() || last.empty() ? "" : " ") + last;
  if (name.empty()) name = text(person, KXFormattedNameProperty);
  if (name.empty()) name = text(person, KXOrganizationProperty);
  if (name.empty()) name = primaryEmail(person);
  return name.empty() ? "(no name)" : name;
}

std::string primaryEmail(KXPerson *person) {
  KXMultiValue *emails = multi(person, KXEmailProperty);
  if (emails == nil || [emails count] == 0) return "";
  NSUInteger index = [emails indexForIdentifier:[emails primaryIdentifier]];
  return utf8([emails valueAtIndex:index == NSNotFound ? 0 : index]);
}

std::string personLine(KXPerson *person) {
  return field(utf8([person uniqueId])) + "\t" + field(displayName(person)) + "\t" +
         field(primaryEmail(person)) + "\n";
}

std::string groupLine(KXGroup *group) {
  std::string name = text(group, KXGroupNameProperty);
  return field(utf8([group uniqueId])) + "\t" + field(name) + "\t" + std::to_string([[group members] count]) +
         "\n";
}

bool personMatches(KXPerson *person, NSString *search) {
  NSString *lowered = [search lowercaseString];
  if ([lowered length] == 0) return true;
  NSString *const properties[] = {KXFirstNameProperty, KXLastNameProperty,     KXMiddleNameProperty,
                                  KXNicknameProperty,  KXOrganizationProperty, KXFormattedNameProperty};
  for (NSString *property : properties)
    if (contains([person valueForProperty:property], lowered)) return true;
  // The whole name too, so that "ada love" finds Ada Lovelace.
  if (contains(nsString(displayName(person)), lowered)) return true;
  KXMultiValue *emails = multi(person, KXEmailProperty);
  for (NSUInteger i = 0; i < [emails count]; ++i)
    if (contains([emails valueAtIndex:i], lowered)) return true;
  return false;
}

std::string personDetails(KXPerson *person, KXAddressBook *book) {
  std::string out;
  addLine(out, "Name", displayName(person));
  addLine(out, "Formatted name", text(person, KXFormattedNameProperty));
  addLine(out, "Name prefix", text(person, KXNamePrefixProperty));
  addLine(out, "First name", text(person, KXFirstNameProperty));
  addLine(out, "Middle name", text(person, KXMiddleNameProperty));
  addLine(out, "Last name", text(person, KXLastNameProperty));
  addLine(out, "Name suffix", text(person, KXNameSuffixProperty));
  addLine(out, "Nickname", text(person, KXNicknameProperty));
  addLine(out, "Organization", text(person, KXOrganizationProperty));
  addLine(out, "Department", text(person, KXDepartmentProperty));
  addLine(out, "Job title", text(person, KXJobTitleProperty));
  addLine(out, "Role", text(person, KXRoleProperty));
  addLine(out, "Birthday", text(person, KXBirthdayProperty));
  addLine(out, "Anniversary", text(person, KXAnniversaryProperty));
  addMultiLines(out, "E-mail", multi(person, KXEmailProperty));
  addMultiLines(out, "Phone", multi(person, KXPhoneProperty));
  addMultiLines(out, "Address", multi(person, KXAddressProperty));
  addMultiLines(out, "URL", multi(person, KXURLProperty));
  addMultiLines(out, "Instant messaging", multi(person, KXInstantMessageProperty));
  addMultiLines(out, "Related", multi(person, KXRelatedNamesProperty));
  addLine(out, "Note", text(person, KXNoteProperty));
  std::string groups;
  NSArray *all = [book groups];
  NSString *uid = [person uniqueId];
  for (NSUInteger i = 0; i < [all count]; ++i) {
    KXGroup *group = [all objectAtIndex:i];
    NSArray *members = [group members];
    for (NSUInteger k = 0; k < [members count]; ++k) {
      if (![[[members objectAtIndex:k] uniqueId] isEqual:uid]) continue;
      groups += (groups.empty() ? "" : ", ") + text(group, KXGroupNameProperty);
      break;
    }
  }
  addLine(out, "Groups", groups);
  addLine(out, "ID", utf8(uid));
  return out;
}

std::string groupDetails(KXGroup *group) {
  std::string out;
  out += "Group: " + text(group, KXGroupNameProperty) + "\n";
  out += "ID: " + utf8([group uniqueId]) + "\n";
  NSArray *members = [group members];
  out += "Members: " + std::to_string([members count]) + "\n";
  for (NSUInteger i = 0; i < [members count]; ++i) {
    KXRecord *member = [members objectAtIndex:i];
    if ([member isKindOfClass:[KXGroup class]]) {
      out += "  " + field(utf8([member uniqueId])) + "\tgroup " + field(text(member, KXGroupNameProperty)) +
             "\n";
    } else {
      out += "  " + personLine((KXPerson *)member);
    }
  }
  return out;
}

}  // namespace kindex
