// The text layer shared by every vCard version: escaping of text values, folding of content
// lines, splitting a file into physical lines, parameter values, and file text made safe for
// messages. Strings are UTF-8 bytes unless a function says otherwise.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vcard {

// Escapes a text value as 3.0 and 4.0 do: backslash, comma and semicolon get a backslash, a line
// break (LF, CR LF or a lone CR) becomes "\n".
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

// A physical line of a file, without its line end, and its 1-based number.
struct PhysicalLine {
  std::string_view text;  // inside the text it was split from
  int line;
};

// The physical lines of text, one at a time, split at every line end real files use: CR LF,
// LF, a lone CR, and CR CR LF (as one). The lines point into text, which must outlive them: a
// file of 100,000 cards is millions of lines, and even a list of them costs memory the size of
// the file.
class PhysicalLines {
 public:
  explicit PhysicalLines(std::string_view text) : text_(text) { advance(); }
  bool atEnd() const { return atEnd_; }
  const PhysicalLine &current() const { return current_; }
  void advance();

 private:
  std::string_view text_;
  size_t pos_ = 0;
  size_t feed_ = 0;  // the next line feed at or after pos_, or the end
  int number_ = 0;
  PhysicalLine current_{};
  bool atEnd_ = false;
};

// Every physical line of text at once, for callers that want them all.
std::vector<PhysicalLine> splitLines(const std::string &text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// A parameter value as it goes into a content line: RFC 6868 escapes for a line break ("^n"), a
// double quote ("^'") and a caret that would otherwise read as one ("^^"); other control
// characters dropped; quoted when it holds ':', ';' or ','.
std::string encodeParamValue(const std::string &value);

// Undoes the RFC 6868 escapes "^n", "^^" and "^'"; any other caret stays as it is.
std::string decodeCaretEscapes(const std::string &value);

// Text taken from a file, made fit for a terminal: control characters, C1 controls and bytes
// that are not UTF-8 become \xNN, and more than 60 octets are cut with "...".
std::string printable(const std::string &fileText);

std::string upperAscii(std::string text);

}  // namespace vcard
