// vdirsyncer (Debian's package) as a user runs it the first time: discover the server's
// address books, then sync them into an empty local folder.
#pragma once

#include <string>

#include "Peers.h"

namespace davbench {

extern const char kVdirsyncerPath[];

// Seconds of the first `vdirsyncer sync` of peer's book into a fresh folder under workDir
// (discovery before it is not timed); throws DavFailure unless it ends well with count cards
// written.
double VdirsyncerFirstSync(const DavPeer &peer, const std::string &workDir, size_t count);

}  // namespace davbench
