#include "ServerSettings.h"

#include "NetAddress.h"

#include <cctype>
#include <climits>

int32_t clampToInt32(long long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int32_t integerValueOfText(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    i++;
  }
  // Accumulate only while the value can still fall inside the range; past that every
  // further digit leaves the clamped result the same.
  long long magnitude = 0;
  const long long limit = static_cast<long long>(INT32_MAX) + 1;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); i++) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  return clampToInt32(negative ? -magnitude : magnitude);
}

WalkResult walkArguments(const std::vector<std::string> &arguments, ServerSettings &settings) {
  for (size_t i = 0; i < arguments.size(); i += 2) {
    const std::string &word = arguments[i];
    std::optional<std::string> *text = nullptr;
    int32_t *number = nullptr;
    std::optional<int32_t> *optionalNumber = nullptr;
    if (word == "--ab")
      text = &settings.location;
    else if (word == "--ro")
      text = &settings.readOnlyPassword;
    else if (word == "--rw")
      text = &settings.readWritePassword;
    else if (word == "--rp")
      number = &settings.receivePort;
    else if (word == "--sp")
      number = &settings.sendPort;
    else if (word == "--sock")
      number = &settings.socketPort;
    else if (word == "--conf")
      text = &settings.configFile;
    else if (word == "--listen")
      text = &settings.listenAddress;
    else if (word == "--dav")
      optionalNumber = &settings.dav.port;
    else if (word == "--dav-listen")
      text = &settings.dav.listenAddress;
    else
      return WalkResult::Usage;
    if (i + 1 >= arguments.size()) return WalkResult::Usage;
    const std::string &value = arguments[i + 1];
    if (text != nullptr)
      *text = value;
    else if (number != nullptr)
      *number = integerValueOfText(value);
    else
      *optionalNumber = integerValueOfText(value);
  }
  return WalkResult::Ok;
}

void mergeConfiguration(ServerSettings &settings, const ConfigValues &file) {
  if (!settings.location) settings.location = file.location;
  if (!settings.readOnlyPassword) settings.readOnlyPassword = file.readOnlyPassword;
  if (!settings.readWritePassword) settings.readWritePassword = file.readWritePassword;
  if (settings.receivePort == -1 && file.receivePort) settings.receivePort = *file.receivePort;
  if (settings.sendPort == -1 && file.sendPort) settings.sendPort = *file.sendPort;
  if (!settings.listenAddress) settings.listenAddress = file.listenAddress;
  DavSettings &dav = settings.dav;
  if (!dav.port) dav.port = file.dav.port;
  if (!dav.listenAddress) dav.listenAddress = file.dav.listenAddress;
  if (!dav.certificateFile) dav.certificateFile = file.dav.certificateFile;
  if (!dav.keyFile) dav.keyFile = file.dav.keyFile;
  if (!dav.allowPlainHttp) dav.allowPlainHttp = file.dav.allowPlainHttp;
  if (!dav.displayName) dav.displayName = file.dav.displayName;
  if (!dav.trustedProxies) dav.trustedProxies = file.dav.trustedProxies;
}

std::string firstValidationError(const ServerSettings &settings) {
  if (!settings.location) return "Error: No value for AddressBookLocation\n";
  if (!settings.readOnlyPassword) return "Error: No value for ReadOnlyPassword\n";
  if (!settings.readWritePassword) return "Error: No value for ReadWritePassword\n";
  if (settings.receivePort == -1) return "Error: Receive port is invalid\n";
  if (settings.sendPort == -1) return "Error: Send port is invalid\n";
  if (settings.listenAddress) {
    const std::string &text = *settings.listenAddress;
    const std::optional<ListenAddress> address = parseListenAddress(text);
    if (!address) return "Error: " + text + " is not an IPv4 or IPv6 address to listen on\n";
    if (!distributedObjectsAddress(*address))
      return "Error: Distributed Objects can't listen on " + text +
             ": GNUstep's socket ports are IPv4 only\n";
  }
  const DavSettings &dav = settings.dav;
  if (dav.port && (*dav.port < 1 || *dav.port > 65535)) return "Error: CardDAV port is invalid\n";
  if (dav.port && dav.listenAddress && !parseListenAddress(*dav.listenAddress))
    return "Error: " + *dav.listenAddress + " is not an IPv4 or IPv6 address to listen on\n";
  if (dav.port && dav.certificateFile.has_value() != dav.keyFile.has_value())
    return "Error: CardDAVCertificate and CardDAVKey must be given together\n";
  if (dav.port && dav.trustedProxies) {
    for (const std::string &proxy : *dav.trustedProxies)
      if (!parseListenAddress(proxy))
        return "Error: " + proxy + " is not an IPv4 or IPv6 address of a proxy\n";
  }
  return "";
}

uint16_t portNumberToOpen(int32_t setting) {
  return static_cast<uint16_t>(static_cast<uint32_t>(setting) & 0xFFFFu);
}
