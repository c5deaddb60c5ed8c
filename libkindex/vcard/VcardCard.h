// A vCard of any version as plain data that loses nothing: every property in the order it was
// written, with its group, its parameters and its value. Nothing here knows an address book;
// the reader fills cards from text, the writer turns them into 3.0 or 4.0 text, and the
// helpers below read and build values so that their users need not know the escaping.
//
// Values are kept in the escaped text form of 3.0 and 4.0 (the two escape alike), not decoded:
// a value goes back out exactly as it came in unless the writer converts it between versions,
// and "a\,b" (one text) stays apart from "a,b" (a list of two). The reader turns what other
// versions and encodings wrote into that form:
// - 2.1 values: QUOTED-PRINTABLE and CHARSET undone, 2.1 escaping ("\;", no comma escaping)
//   rewritten in 3.0 form, bare parameter words (";HOME;CELL") made TYPE values;
// - binary data (3.0 ENCODING=b, 2.1 ENCODING=BASE64 on PHOTO, LOGO, SOUND, KEY, or on any
//   value whose bytes are not text) kept as its base64 text with the parameter ENCODING=b, as
//   3.0 writes it; base64 that is text (a name, a note) is decoded like any other value; a 4.0
//   card keeps its data: URIs as they are.
// Strings are UTF-8. A card read from a file never holds a NUL byte.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vcard {

struct Parameter {
  std::string name;                 // upper case: "TYPE", "PREF", "X-SERVICE-TYPE"
  std::vector<std::string> values;  // unquoted, RFC 6868 ^-escapes decoded, case as written;
                                    // a TYPE value never holds a comma (TYPE="a,b" is two)
};

struct Property {
  std::string group;  // "item1", case as written; empty when none
  std::string name;   // upper case
  // In order of first appearance; a parameter written twice (type=HOME;type=pref) is one
  // Parameter with the values of both. ENCODING and CHARSET are consumed by decoding, except
  // ENCODING=b on binary data.
  std::vector<Parameter> params;
  std::string value;  // escaped as 3.0 and 4.0 escape text (see above)
  int line = 0;       // physical line it began on (1-based); 0 when made, not read

  Property() = default;
  Property(std::string name, std::string value) : name(std::move(name)), value(std::move(value)) {}

  // The parameter of that (upper-case) name, or nullptr.
  const Parameter *param(std::string_view name) const;
  // Replaces the values of the parameter, or adds it at the end.
  void setParam(const std::string &name, const std::vector<std::string> &values);
  void removeParam(const std::string &name);

  // The TYPE values, case as written, empty ones left out.
  std::vector<std::string> types() const;
  // Whether TYPE holds `type`, letter case aside.
  bool hasType(const std::string &type) const;
  void addType(const std::string &type);
  // The rank of 4.0's PREF (1 is most preferred, up to 100); TYPE=pref of 3.0 counts as 1.
  // 0 when the property says nothing about preference.
  int preference() const;

  // The value as text: escapes undone, nothing split.
  std::string text() const;
  // The value as structured components (split at unescaped ';'), each a list (split at
  // unescaped ','), all unescaped: N, ADR, ORG, and CATEGORIES or NICKNAME as one component.
  std::vector<std::vector<std::string>> components() const;

  // Binary data, in either version's form: ENCODING=b with the format in TYPE (3.0), or a
  // "data:MEDIATYPE;base64,DATA" URI (4.0). False for anything else (a URI, text).
  bool binaryData(std::string &mediaType, std::string &base64) const;

  // The 4.0 name of a property that 3.0 writers spell as an X- name (KIND for
  // X-ADDRESSBOOKSERVER-KIND, ...; see VcardWriter.h), else the name itself.
  // A view of the property's own name or of a static one: it lives as long as the property.
  std::string_view standardName() const;
};

struct Card {
  std::string version = "3.0";       // "2.1", "3.0" or "4.0" as read
  std::vector<Property> properties;  // in order; BEGIN, END and VERSION are not among them
  int line = 0;  // where the card began in the text it was read from (1-based); 0 when made

  // The first property whose standard name is `name`, or nullptr; all of them, in order.
  const Property *find(std::string_view name) const;
  std::vector<const Property *> findAll(std::string_view name) const;
  // Appends a property and gives it for setting parameters.
  Property &add(const std::string &name, const std::string &value);
};

// Values built from plain text, escaped for a Property's value.
std::string textValue(const std::string &text);
std::string listValue(const std::vector<std::string> &items);
std::string structuredValue(const std::vector<std::vector<std::string>> &components);

// 4.0 properties that 3.0 writers spell as X- names (Apple's X-ADDRESSBOOKSERVER-KIND and
// -MEMBER, X-GENDER, X-ANNIVERSARY): the 3.0 name of a 4.0 name and the 4.0 name of a 3.0 one;
// any other name is given back as it is.
std::string nameIn30(const std::string &name);
std::string nameIn40(const std::string &name);

// Whether the property holds binary data or a URI to it: PHOTO, LOGO, SOUND and KEY.
bool isMediaProperty(std::string_view name);

// The media type of binary data whose 3.0 TYPE is `format` ("JPEG" on a PHOTO is
// "image/jpeg"), and back ("image/jpeg" is "JPEG"); a TYPE that is a media type already stays.
std::string mediaTypeForFormat(const std::string &propertyName, const std::string &format);
std::string formatForMediaType(const std::string &propertyName, const std::string &mediaType);

}  // namespace vcard
