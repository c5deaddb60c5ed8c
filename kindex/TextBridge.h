// Moving text between GNUstep strings and the UTF-8 std::strings of the vCard layer and the
// standard streams.
#pragma once

#import <Foundation/Foundation.h>

#include <string>

namespace kindex {

// "" for nil and for anything that is not a string.
inline std::string utf8(id value) {
  if (value == nil || ![value isKindOfClass:[NSString class]]) return std::string();
  const char *bytes = [(NSString *)value UTF8String];
  return bytes ? std::string(bytes) : std::string();
}

// nil when the bytes are not UTF-8.
inline NSString *nsString(const std::string &text) {
  return [[[NSString alloc] initWithBytes:text.data() length:text.size()
                                 encoding:NSUTF8StringEncoding] autorelease];
}

}  // namespace kindex
