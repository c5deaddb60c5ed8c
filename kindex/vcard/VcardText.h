// The text layer of vCard 3.0 (RFC 2426): escaping of text values, folding and unfolding of
// content lines. Strings are UTF-8 bytes.
#pragma once

#include <string>
#include <vector>

namespace vcard {

// Escapes a text value: backslash, comma and semicolon get a backslash, a line break (LF, CR LF
// or a lone CR) becomes "\n".
std::string escapeText(const std::string &text);

// Undoes escapeText. "\n" and "\N" give a line feed; an unknown escape keeps the character after
// the backslash, and a backslash at the very end is kept as it is.
std::string unescapeText(const std::string &value);

// Splits a value at every `separator` that is not escaped; the pieces stay escaped.
std::vector<std::string> splitEscaped(const std::string &value, char separator);

// Folds one content line (without its line break) into physical lines of at most 75 octets,
// each ended by CR LF; continuation lines begin with one blank. A cut never falls inside a
// UTF-8 sequence.
std::string foldLine(const std::string &line);

// A logical line after unfolding, with the number of the physical line it began on.
struct LogicalLine {
  std::string text;
  int line;
};

// Splits text at LF (a CR before it is dropped) and joins every line that begins with a blank or
// a tab to the line before it, without that first character.
std::vector<LogicalLine> unfold(const std::string &text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(const std::string &bytes);

}  // namespace vcard
