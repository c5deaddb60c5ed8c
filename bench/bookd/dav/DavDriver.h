// The requests the benchmark times, as a CardDAV client sends them to one server, each checked
// after the clock stops: the status, the number of cards, that every card came with its ETag
// or its text. A wrong answer throws DavFailure, so that no figure is printed for a server
// that did not do the work.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "Peers.h"

namespace davbench {

struct DavFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class DavDriver {
 public:
  explicit DavDriver(const DavPeer &peer);

  // PROPFIND depth 1 on the collection for every card's ETag; expects count cards and fills
  // hrefs with theirs. Gives the seconds from the request to the last byte of the answer.
  double listEtags(size_t count, std::vector<std::string> *hrefs, std::string *answer = nullptr);
  // addressbook-multiget of hrefs with their ETags and texts.
  double multiget(const std::vector<std::string> &hrefs);
  // addressbook-query for cards whose EMAIL contains text; expects `matches` cards.
  double queryEmail(const std::string &text, size_t matches);
  // The collection's sync token now (not timed).
  std::string syncToken();
  // Stores card `index` at href (not timed), then times sync-collection from `token`: the
  // answer must name that card alone.
  double syncAfterChange(const std::string &token, const std::string &href, int index, int revision,
                         std::string *answer = nullptr);
  // Times sync-collection from `token`: the answer must name the card at href alone, with a
  // new token.
  double syncReport(const std::string &token, const std::string &href, std::string *answer = nullptr);
  // PUTs card `index` as a new card (If-None-Match: *); expects it created.
  double putNew(int index);

  const std::string &collection() const { return peer_.collection; }
  // The href of the card with this UID among hrefs; throws when none.
  static std::string HrefOf(const std::vector<std::string> &hrefs, const std::string &uid);

 private:
  Response send(const std::string &method, const std::string &path, const std::string &headers,
                const std::string &body, double *seconds);

  const DavPeer &peer_;
  HttpClient client_;
};

}  // namespace davbench
