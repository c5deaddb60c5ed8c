// Writes cards as vCard 3.0 (RFC 2426) or 4.0 (RFC 6350) text: CR LF line ends, lines folded at
// 75 octets and never inside a UTF-8 character, parameter values quoted when they hold ':', ';'
// or ',' and RFC 6868 ^-escaped (in 3.0 too: readers that do not know the escapes show them,
// and none ever gets a bare '"' or control character). Values go out as the card holds them,
// already escaped (see VcardCard.h); binary data, GEO and URIs are never escaped as text.
//
// A card of any version can be written in either version. What one version says in its own
// form is written in the other's, and the reader understands both, so that 3.0 -> 4.0 -> 3.0
// and 4.0 -> 3.0 -> 4.0 give back what they started with:
//
//   3.0                                        4.0
//   TYPE=pref (any letter case)                PREF=1 (other PREF ranks stay PREF=n in 3.0)
//   PHOTO;ENCODING=b;TYPE=JPEG:<base64>        PHOTO:data:image/jpeg;base64,<base64>
//     (LOGO and SOUND alike; KEY with TYPE=PGP is application/pgp-keys, X509
//     application/pkix-cert; a TYPE that is a media type already is used as it is)
//   PHOTO;VALUE=uri:http://...                 PHOTO:http://...  (LOGO, SOUND, KEY alike)
//   GEO:lat;lon                                GEO:geo:lat,lon
//   X-ADDRESSBOOKSERVER-KIND:group             KIND:group        (Apple's 3.0 names)
//   X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:...    MEMBER:urn:uuid:...
//   X-GENDER, X-ANNIVERSARY                    GENDER, ANNIVERSARY
//
// Everything else is written as it is in both: 2.1 bare types were made TYPE values by the
// reader; TEL;VALUE=uri:tel:... stays a URI in 3.0; other 4.0-only properties (LANG, RELATED,
// IMPP, ...) and 3.0-only ones (LABEL, AGENT, ...) keep their names, since readers of the other
// version keep properties they do not know; 4.0's LABEL parameter of ADR stays a parameter.
#pragma once

#include <string>

#include "vcard/VcardCard.h"

namespace vcard {

enum class Version { v3, v4 };

// One card, BEGIN:VCARD to END:VCARD, with what its version requires: VERSION, and FN in both
// versions, N in 3.0. A missing FN is made from N, else the organisation, else the first
// e-mail address; a missing N from FN's words (the last word the family name) when the card
// names an individual, else empty. BEGIN, END and VERSION among `card.properties` are left out.
std::string writeCard(const Card &card, Version version = Version::v3);

// A property in the forms of `version` (the table above), as writeCard writes it.
Property convertedProperty(const Property &property, Version version);

// One property as one content line, unfolded and without a line end, as the card holds it
// (no conversion between versions): group.NAME;PARAM=value,value:value.
std::string contentLine(const Property &property);

}  // namespace vcard
