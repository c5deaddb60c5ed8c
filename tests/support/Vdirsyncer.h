// Debian's vdirsyncer as a real CardDAV client in tests: where it is, and its configuration
// for one pair of a local folder of cards and a server's one address book.
#pragma once

#include <string>

namespace kxtest {

extern const char kVdirsyncerPath[];

struct VdirsyncerPair {
  std::string statusDir;   // vdirsyncer's memory of past syncs; logins that share it share it
  std::string localDir;    // holds the folder "book" of .vcf files
  int port = -1;           // the server's, on 127.0.0.1, plain HTTP
  std::string password;    // any user name goes
  std::string resolution;  // conflict_resolution: "null", "\"a wins\"", ...
};

// Writes the configuration for pair to path.
void writeVdirsyncerConfig(const std::string &path, const VdirsyncerPair &pair);

}  // namespace kxtest
