// The CardDAV servers the benchmark runs as children, each on a loopback port of its own, with
// the same cards: Radicale (Debian's package) with its filesystem store filled directly, and
// bookd with its book filled by kindex before it starts.
#pragma once

#include <sys/types.h>

#include <string>

namespace davbench {

struct DavPeer {
  std::string name;
  pid_t pid = -1;
  int port = 0;
  std::string collection;  // the address book's path, ending in '/'
  std::string user, password;
  std::string dataDir;  // where the server keeps the cards
};

extern const char kRadicalePath[];
bool radicaleInstalled();

// Writes count cards into a Radicale store under workDir and starts Radicale on it.
bool startRadicale(const std::string &workDir, int count, DavPeer *peer, std::string *error);

// Imports count cards (with photos: see CardText) into a new book under workDir with kindex
// and starts bookd on it with its CardDAV service on.
bool startBookd(const std::string &bookdPath, const std::string &kindexPath, const std::string &workDir,
                int count, bool photos, DavPeer *peer, std::string *error);

void stopPeer(DavPeer *peer);

// bookd's peak resident memory so far (VmHWM), in KiB; -1 when it cannot be read.
long peakResidentKiB(pid_t pid);

}  // namespace davbench
