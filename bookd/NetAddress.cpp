#include "NetAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

std::optional<ListenAddress> parseListenAddress(const std::string &text) {
  ListenAddress address;
  address.text = text;
  sockaddr_in *v4 = reinterpret_cast<sockaddr_in *>(&address.socket);
  sockaddr_in6 *v6 = reinterpret_cast<sockaddr_in6 *>(&address.socket);
  // inet_pton takes only the strict dotted quad for IPv4: no "1.2.3", no leading zeros.
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    address.family = v4->sin_family = AF_INET;
    address.length = sizeof(sockaddr_in);
    return address;
  }
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    address.family = v6->sin6_family = AF_INET6;
    address.length = sizeof(sockaddr_in6);
    return address;
  }
  return std::nullopt;
}

sockaddr_storage withPort(const ListenAddress &address, uint16_t port, socklen_t &length) {
  sockaddr_storage result = address.socket;
  if (address.family == AF_INET6)
    reinterpret_cast<sockaddr_in6 *>(&result)->sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in *>(&result)->sin_port = htons(port);
  length = address.length;
  return result;
}

namespace {

std::string dotted(const in_addr &address) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// The IPv4 address inside an IPv4-mapped IPv6 address (::ffff:a.b.c.d).
in_addr embedded(const in6_addr &address) {
  in_addr inside;
  std::memcpy(&inside, address.s6_addr + 12, sizeof inside);
  return inside;
}

}  // namespace

std::optional<std::string> distributedObjectsAddress(const ListenAddress &address) {
  if (address.family == AF_INET) {
    const sockaddr_in *v4 = reinterpret_cast<const sockaddr_in *>(&address.socket);
    if (v4->sin_addr.s_addr == htonl(INADDR_ANY)) return std::string();
    return dotted(v4->sin_addr);
  }
  const in6_addr &v6 = reinterpret_cast<const sockaddr_in6 *>(&address.socket)->sin6_addr;
  if (IN6_IS_ADDR_UNSPECIFIED(&v6)) return std::string();
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return std::string("127.0.0.1");
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    const in_addr inside = embedded(v6);
    if (inside.s_addr == htonl(INADDR_ANY)) return std::string();
    return dotted(inside);
  }
  return std::nullopt;
}

std::string peerText(const sockaddr *peer, socklen_t length) {
  if (peer == nullptr) return "";
  if (peer->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in)))
    return dotted(reinterpret_cast<const sockaddr_in *>(peer)->sin_addr);
  if (peer->sa_family != AF_INET6 || length < static_cast<socklen_t>(sizeof(sockaddr_in6))) return "";
  const in6_addr &v6 = reinterpret_cast<const sockaddr_in6 *>(peer)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) return dotted(embedded(v6));
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(AF_INET6, &v6, text, sizeof text);
  return text;
}

std::string peerOfSocket(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0) return "";
  return peerText(reinterpret_cast<sockaddr *>(&peer), length);
}
