// One person as a vCard 3.0 (RFC 2426) card, independent of any address book: the writer turns
// it into text, the reader builds it from text, and the tool maps it to and from records.
// Every string is UTF-8, exactly as the user wrote it (no escaping, no folding).
#pragma once

#include <string>
#include <vector>

namespace vcard {

// A value with vCard TYPE parameters, e.g. an e-mail address with TYPE=WORK. The types are the
// parameter values as written (case kept); PREF is folded into `preferred`.
struct TypedValue {
  std::string value;
  std::vector<std::string> types;
  bool preferred = false;
};

// A postal address (ADR); the post-office box and extended address of the RFC are not kept.
struct PostalAddress {
  std::string street, city, region, postalCode, country;
  std::vector<std::string> types;
  bool preferred = false;
};

struct Card {
  std::string uid;
  std::string formattedName;  // FN
  // The five components of N.
  std::string familyName, givenName, additionalNames, prefixes, suffixes;
  std::string nickname;
  std::string organization, department;  // ORG: first two components
  std::string title;
  std::vector<TypedValue> emails;
  std::vector<TypedValue> phones;
  std::vector<PostalAddress> addresses;
  std::string note;
  std::vector<std::string> categories;
  int line = 0;  // where the card began in the text it was read from (1-based); 0 when made
};

}  // namespace vcard
