/* What bookd's CardDAV service is started with. Every field maps to one setting; the defaults
 * are what the service uses when a setting is not given.
 *
 * URLs the service answers (fixed): /.well-known/carddav redirects to /; / is the service
 * root; /principal/ the one principal, whatever user name a client logs in with;
 * /addressbooks/ the address-book home; /addressbooks/book/ the one address-book collection;
 * /addressbooks/book/<name> its cards, under the names the clients chose. */
#ifndef BOOKD_CARDDAV_DAVCONFIG_H
#define BOOKD_CARDDAV_DAVCONFIG_H

#include <cstddef>
#include <string>
#include <vector>

namespace carddav {

struct DavConfig {
  // An IPv4 or IPv6 address literal to listen on ("0.0.0.0" or "::" for every address).
  std::string listenAddress = "127.0.0.1";
  // The TCP port; 0 lets the system choose one (DavService reports it).
  int port = 0;

  // PEM files of the server's certificate (chain) and private key. Both given: HTTPS only.
  // Neither: plain HTTP, which the service refuses to start on a non-loopback address
  // unless allowPlainHttp is set (for a TLS-terminating proxy in front of it).
  std::string tlsCertificateFile;
  std::string tlsKeyFile;
  bool allowPlainHttp = false;

  // The address book's name in clients' lists (DAV:displayname of the collection).
  std::string displayName = "Contacts";
  // The realm of the Basic authentication challenge.
  std::string realm = "Kindex";

  // Passwords, compared byte for byte; any user name goes. The read-only one gives a book
  // every write to which is refused. An empty password lets nobody in.
  std::string readOnlyPassword;
  std::string readWritePassword;

  // Addresses (IPv4 or IPv6 literals) of reverse proxies whose X-Forwarded-For or Forwarded
  // header names the real client. Only connections from these addresses are believed.
  std::vector<std::string> trustedProxies;

  // Largest vCard a PUT may carry (CARDDAV:max-resource-size); larger ones get 413.
  size_t maxResourceSize = 1 << 20;
  // Largest XML request body (PROPFIND, PROPPATCH, REPORT); larger ones get 413. A multiget
  // of 100,000 cards is about 8 MB.
  size_t maxXmlBodySize = 16 << 20;
  // Open connections at most. Past it the service stops accepting: further clients wait in
  // the system's listen backlog, costing the service nothing, until a connection closes.
  unsigned connectionLimit = 256;
  // Open connections from one TCP peer at most (more are closed at once); 0 for no limit.
  // Behind a reverse proxy every connection comes from the proxy: set 0 there.
  unsigned perAddressConnectionLimit = 32;
  // A connection has this long to deliver each request in full (headers and body), counted
  // from when it opened or its previous answer went out; slower ones are closed. This is
  // also how long an idle kept-alive connection stays open.
  unsigned requestTimeoutSeconds = 30;
  // Silence that ends a connection while an answer is being sent.
  unsigned idleTimeoutSeconds = 60;
};

}  // namespace carddav

#endif
