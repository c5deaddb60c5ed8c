// How a mail client's one-string name becomes a first and a last name.
//
// The rows are tried in order:
//   1. empty name            -> no split; the caller uses the e-mail address as first name
//                               and "UNKNOWN" as last name
//   2. neither ',' nor ' '   -> the whole name is the last name; no first name
//   3. ' ' but no ','        -> last name after the last blank, first name before it
//   4. ','                   -> last name before the first comma, first name between the
//                               first and the second comma; the rest is dropped
// Only the comma and the blank U+0020 separate; nothing is trimmed, so empty parts stay.
//
// Plain C++ over any string of code units (UTF-8 bytes, UTF-16 units): both separators are
// ASCII, and no unit of a multi-unit character equals an ASCII one, so splitting by unit
// never cuts a character in two.
#pragma once

#include <string>

namespace bookconvert {

enum class NameRule {
  UseEmailAddress,  // row 1: set last name, then first name
  LastNameOnly,     // row 2
  FirstThenLast,    // rows 3 and 4: set first name, then last name
};

template <class String>
struct SplitName {
  NameRule rule;
  String first;
  String last;
};

template <class String>
SplitName<String> splitWholeName(const String &name) {
  using Unit = typename String::value_type;
  const Unit comma = Unit(','), blank = Unit(' ');
  if (name.empty()) return {NameRule::UseEmailAddress, String(), String()};

  auto firstComma = name.find(comma);
  if (firstComma != String::npos) {
    auto secondStart = firstComma + 1;
    auto secondComma = name.find(comma, secondStart);
    auto secondLength = secondComma == String::npos ? String::npos : secondComma - secondStart;
    return {NameRule::FirstThenLast, name.substr(secondStart, secondLength), name.substr(0, firstComma)};
  }

  // Joining every part but the last with blanks again gives back what precedes the last blank.
  auto lastBlank = name.rfind(blank);
  if (lastBlank == String::npos) return {NameRule::LastNameOnly, String(), name};
  return {NameRule::FirstThenLast, name.substr(0, lastBlank), name.substr(lastBlank + 1)};
}

}  // namespace bookconvert
