// Bytes to UTF-8 text: the encodings of a whole vCard file (UTF-8 with or without a byte-order
// mark, UTF-16 with one, legacy 8-bit files), the character sets named by CHARSET parameters,
// and the transfer encodings of single values (QUOTED-PRINTABLE, BASE64). Conversions between
// character sets are the C library's iconv; nothing here keeps tables of its own.
#pragma once

#include <string>
#include <string_view>

namespace vcard {

// What a file's bytes are after its byte-order mark is looked at.
struct FileText {
  enum Kind {
    kUtf8,    // `text` is UTF-8 (a UTF-8 or UTF-16 file)
    kLegacy,  // not UTF-8 and no mark: `text` holds the file's own bytes, to be read value by
              // value in each value's CHARSET, else Windows-1252
    kBroken   // a UTF-16 mark on bytes that are not UTF-16: `error` says so
  } kind = kUtf8;
  std::string_view text;  // in the bytes decoded, or in `converted`
  std::string converted;  // a UTF-16 file's text as UTF-8
  std::string error;

  FileText() = default;
  FileText(const FileText &) = delete;  // text may point into converted
  FileText &operator=(const FileText &) = delete;
};

// Fills file from bytes, which must outlive it: a UTF-8 or 8-bit file is read where it lies,
// and a file of a hundred megabytes is not copied.
void decodeFile(std::string_view bytes, FileText &file);

// Converts `bytes` in the character set `charset` (an iconv name such as "ISO-8859-1",
// "Windows-1252", "SHIFT_JIS") to UTF-8. False with a message when the name is unknown or not
// a plain name, or the bytes are not text in that set.
bool convertToUtf8(const std::string &bytes, const std::string &charset, std::string &utf8,
                   std::string &error);

// Windows-1252 to UTF-8; the five octets that set leaves undefined are read as ISO-8859-1, so
// that every byte gives a character and nothing is refused.
std::string windows1252ToUtf8(const std::string &bytes);

// Undoes QUOTED-PRINTABLE: "=XX" (either letter case) gives that octet, "=" before a line break
// joins the lines; an "=" followed by anything else is kept as it is.
std::string decodeQuotedPrintable(const std::string &text);

// Whether `c` can appear in base64 text, padding and white space included.
bool isBase64Char(char c);

// Decodes base64 text; white space inside is skipped. False when other characters or a broken
// end are found.
bool decodeBase64(const std::string &text, std::string &bytes);

}  // namespace vcard
