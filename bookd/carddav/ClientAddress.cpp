#include "ClientAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace carddav {

namespace {

std::string trimmedText(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string &s, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(separator, start);
    parts.push_back(trimmedText(s.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The address in a Forwarded for= value: "192.0.2.1", "192.0.2.1:80", "\"[2001:db8::1]:4711\"".
std::string nodeAddress(std::string node) {
  if (node.size() >= 2 && node.front() == '"' && node.back() == '"') node = node.substr(1, node.size() - 2);
  if (!node.empty() && node.front() == '[') {
    size_t close = node.find(']');
    return close == std::string::npos ? "" : node.substr(1, close - 1);
  }
  if (std::count(node.begin(), node.end(), ':') == 1) node = node.substr(0, node.find(':'));
  return node;
}

std::vector<std::string> forwardedFor(const char *forwarded) {
  std::vector<std::string> addresses;
  for (const std::string &element : split(forwarded, ',')) {
    for (const std::string &pair : split(element, ';')) {
      if (pair.size() > 4 && strncasecmp(pair.c_str(), "for=", 4) == 0)
        addresses.push_back(nodeAddress(pair.substr(4)));
    }
  }
  return addresses;
}

}  // namespace

std::string canonicalAddress(const std::string &text) {
  char buffer[INET6_ADDRSTRLEN];
  unsigned char v4[4], v6[16];
  if (inet_pton(AF_INET, text.c_str(), v4) == 1) return inet_ntop(AF_INET, v4, buffer, sizeof buffer);
  if (inet_pton(AF_INET6, text.c_str(), v6) != 1) return "";
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(v6, kMapped, 12) == 0) return inet_ntop(AF_INET, v6 + 12, buffer, sizeof buffer);
  return inet_ntop(AF_INET6, v6, buffer, sizeof buffer);
}

std::string clientAddressOf(const std::string &peer, const std::vector<std::string> &trustedProxies,
                            const char *forwarded, const char *xForwardedFor) {
  auto trusted = [&](const std::string &address) {
    for (const std::string &proxy : trustedProxies)
      if (canonicalAddress(proxy) == address) return true;
    return false;
  };
  if (!trusted(peer)) return peer;
  std::vector<std::string> chain;
  if (forwarded) {
    chain = forwardedFor(forwarded);
  } else if (xForwardedFor) {
    chain = split(xForwardedFor, ',');
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    std::string address = canonicalAddress(*it);
    if (address.empty()) return peer;  // unreadable: believe nothing further left
    if (!trusted(address)) return address;
  }
  return peer;
}

}  // namespace carddav
