#import <Foundation/Foundation.h>

#include "ConfigFile.h"

namespace {

// A missing key leaves the value empty; false for a value that is no string.
bool readText(NSDictionary *dict, NSString *key, std::optional<std::string> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if (![value isKindOfClass:[NSString class]]) return false;
  const char *bytes = [(NSString *)value UTF8String];
  if (bytes == NULL) return false;
  out = std::string(bytes);
  return true;
}

bool readPort(NSDictionary *dict, NSString *key, std::optional<int32_t> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if ([value isKindOfClass:[NSString class]]) {
    const char *bytes = [(NSString *)value UTF8String];
    if (bytes == NULL) return false;
    out = integerValueOfText(bytes);
    return true;
  }
  if ([value isKindOfClass:[NSNumber class]]) {
    out = clampToInt32([(NSNumber *)value longLongValue]);
    return true;
  }
  return false;
}

// A property list may say yes and no as a boolean, a number or a string (the old-style
// format has only strings).
bool readFlag(NSDictionary *dict, NSString *key, std::optional<bool> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if ([value isKindOfClass:[NSNumber class]]) {
    out = [(NSNumber *)value boolValue];
    return true;
  }
  if (![value isKindOfClass:[NSString class]]) return false;
  NSString *text = [(NSString *)value lowercaseString];
  if ([text isEqual:@"yes"] || [text isEqual:@"true"] || [text isEqual:@"1"]) {
    out = true;
  } else if ([text isEqual:@"no"] || [text isEqual:@"false"] || [text isEqual:@"0"]) {
    out = false;
  } else {
    return false;
  }
  return true;
}

// An array of strings, or one string.
bool readTextList(NSDictionary *dict, NSString *key, std::optional<std::vector<std::string>> &out) {
  id value = [dict objectForKey:key];
  if (value == nil) return true;
  if ([value isKindOfClass:[NSString class]]) value = [NSArray arrayWithObject:value];
  if (![value isKindOfClass:[NSArray class]]) return false;
  std::vector<std::string> texts;
  for (NSUInteger i = 0; i < [(NSArray *)value count]; i++) {
    id item = [(NSArray *)value objectAtIndex:i];
    const char *bytes = [item isKindOfClass:[NSString class]] ? [(NSString *)item UTF8String] : NULL;
    if (bytes == NULL) return false;
    texts.push_back(bytes);
  }
  out = texts;
  return true;
}

}  // namespace

bool readConfigFile(const std::string &path, ConfigValues &values) {
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
      ok = readText(dict, @"AddressBookLocation", values.location) &&
           readText(dict, @"ReadOnlyPassword", values.readOnlyPassword) &&
           readText(dict, @"ReadWritePassword", values.readWritePassword) &&
           readPort(dict, @"ReceivePort", values.receivePort) &&
           readPort(dict, @"SendPort", values.sendPort) &&
           readText(dict, @"ListenAddress", values.listenAddress) &&
           readPort(dict, @"CardDAVPort", values.dav.port) &&
           readText(dict, @"CardDAVListenAddress", values.dav.listenAddress) &&
           readText(dict, @"CardDAVCertificate", values.dav.certificateFile) &&
           readText(dict, @"CardDAVKey", values.dav.keyFile) &&
           readFlag(dict, @"CardDAVAllowPlainHTTP", values.dav.allowPlainHttp) &&
           readText(dict, @"CardDAVDisplayName", values.dav.displayName) &&
           readTextList(dict, @"CardDAVTrustedProxies", values.dav.trustedProxies);
    }
  } @catch (id) {
    // GNUstep's parsers may raise on malformed input; such a file holds no property list.
    ok = false;
  }
  [pool release];
  return ok;
}
