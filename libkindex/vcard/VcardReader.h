// Reads vCard text of every version real software writes (2.1, 3.0 of RFC 2426, 4.0 of
// RFC 6350) into cards that keep everything the text said (see VcardCard.h).
//
// What it copes with:
// - the file: UTF-8 with or without a byte-order mark, UTF-16 (LE or BE) with one, and legacy
//   8-bit files (not UTF-8, no mark), read value by value in the value's CHARSET, else in
//   Windows-1252 with one warning;
// - lines: CR LF, LF, a lone CR, CR CR LF; blank lines anywhere; folding with a blank or a tab
//   (exactly one is removed);
// - values: QUOTED-PRINTABLE with soft line breaks (the next line is not indented), BASE64
//   whose continuation lines are not indented and end at a blank line (2.1), either encoding
//   on any value of any version, CHARSET on any value; 2.1 AGENT with a card written inside;
// - parameters: 2.1 bare words, quoted values with ':', ';' and ',' inside, TYPE="a,b" as two
//   types, RFC 6868 ^-escapes (3.0 and 4.0).
// A card without VERSION is read as 3.0.
//
// A malformed card is skipped as a whole and reported with the line it went wrong on: a line
// without a colon, a bad name, an unknown VERSION or ENCODING, a CHARSET that is unknown or
// does not fit the value, a NUL byte (never kept: a later step could cut the text short there),
// no END:VCARD. Reading goes on with the next card. Text from the file that appears in a
// message has its control characters escaped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vcard/VcardCard.h"

namespace vcard {

struct ReadError {
  int line;             // 1-based physical line number
  std::string message;  // what was wrong, without the line number
};

struct ReadResult {
  std::vector<Card> cards;
  std::vector<ReadError> errors;    // one per skipped card or stray run of lines
  std::vector<ReadError> warnings;  // the text was read, but perhaps not as meant
};

// `bytes` is the whole file, in whatever encoding it came; it is read where it lies.
ReadResult readCards(std::string_view bytes);

// One content line in the form contentLine (VcardWriter.h) writes: group, name, parameters
// (RFC 6868 escapes undone) and the value as it is. False with a message when it is not one.
bool parseProperty(const std::string &line, Property &property, std::string &error);

}  // namespace vcard
