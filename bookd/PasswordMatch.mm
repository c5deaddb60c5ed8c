#include "PasswordMatch.h"

bool passwordsMatch(const std::string &stored, const std::string &offered) {
  // Walk the offered bytes whatever happens, comparing against the stored ones cyclically;
  // a length mismatch is folded into the same difference instead of returning early.
  volatile unsigned char difference = stored.size() == offered.size() ? 0 : 1;
  const size_t storedSize = stored.size();
  for (size_t i = 0; i < offered.size(); i++) {
    unsigned char expected = storedSize == 0 ? 0 : static_cast<unsigned char>(stored[i % storedSize]);
    difference = difference | (expected ^ static_cast<unsigned char>(offered[i]));
  }
  return difference == 0;
}

bool passwordBytes(id text, std::string &bytes) {
  if (text == nil || [text isProxy] || ![text isKindOfClass:[NSString class]]) return false;
  NSData *data = [(NSString *)text dataUsingEncoding:NSUTF8StringEncoding];
  if (data == nil) return false;
  bytes.assign(static_cast<const char *>([data bytes]), [data length]);
  return true;
}
