// Writes cards as vCard 3.0 text (RFC 2426): CR LF line ends, lines folded at 75 octets,
// text values escaped. Every byte of the card's strings is kept, non-ASCII included.
#pragma once

#include <string>

#include "VcardCard.h"

namespace vcard {

// One card, BEGIN:VCARD to END:VCARD. FN is always written, since the RFC requires it: when the
// card has none, it is made from the name components, else the organisation, else the first
// e-mail address.
std::string writeCard(const Card &card);

}  // namespace vcard
