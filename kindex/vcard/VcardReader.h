// Reads vCard text (RFC 2426, version 3.0; 4.0 cards are read the same way) into cards.
// A card that is malformed is skipped as a whole and reported with the line it went wrong on;
// reading goes on with the next card.
#pragma once

#include <string>
#include <vector>

#include "VcardCard.h"

namespace vcard {

struct ReadError {
  int line;             // 1-based physical line number
  std::string message;  // what was wrong, without the line number
};

struct ReadResult {
  std::vector<Card> cards;
  std::vector<ReadError> errors;
};

ReadResult readCards(const std::string &text);

}  // namespace vcard
