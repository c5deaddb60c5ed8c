#import <Foundation/Foundation.h>

#include "ConfigFile.h"

namespace {

// A missing key leaves the value empty; false for a value that is no string.
bool ReadText(NSDictionary *dict, NSString *key, std::optional<std::string> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if (![value isKindOfClass:[NSString class]]) return false;
  const char *bytes = [(NSString *)value UTF8String];
  if (bytes == NULL) return false;
  out = std::string(bytes);
  return true;
}

bool ReadPort(NSDictionary *dict, NSString *key, std::optional<int32_t> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if ([value isKindOfClass:[NSString class]]) {
    const char *bytes = [(NSString *)value UTF8String];
    if (bytes == NULL) return false;
    out = IntegerValueOfText(bytes);
    return true;
  }
  if ([value isKindOfClass:[NSNumber class]]) {
    out = ClampToInt32([(NSNumber *)value longLongValue]);
    return true;
  }
  return false;
}

}  // namespace

bool ReadConfigFile(const std::string &path, ConfigValues &values) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  bool ok = false;
  @try {
    NSData *data = [NSData dataWithContentsOfFile:[NSString stringWithUTF8String:path.c_str()]];
    id plist = nil;
    if (data != nil && [data length] > 0) {
      plist = [NSPropertyListSerialization propertyListWithData:data
                                                        options:NSPropertyListImmutable
                                                         format:NULL
                                                          error:NULL];
    }
    if ([plist isKindOfClass:[NSDictionary class]]) {
      NSDictionary *dict = plist;
      ok = ReadText(dict, @"AddressBookLocation", values.location) &&
           ReadText(dict, @"ReadOnlyPassword", values.readOnlyPassword) &&
           ReadText(dict, @"ReadWritePassword", values.readWritePassword) &&
           ReadPort(dict, @"ReceivePort", values.receivePort) &&
           ReadPort(dict, @"SendPort", values.sendPort) &&
           ReadText(dict, @"ListenAddress", values.listenAddress);
    }
  } @catch (id) {
    // GNUstep's parsers may raise on malformed input; such a file holds no property list.
    ok = false;
  }
  [pool release];
  return ok;
}
