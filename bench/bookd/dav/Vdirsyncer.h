// vdirsyncer (Debian's package) as a user runs it the first time: discover the server's
// address books, then sync them into an empty local folder.
#pragma once

#include <string>

#include "Peers.h"

namespace davbench {

extern const char kVdirsyncerPath[];

// Seconds of the first `vdirsyncer sync` of peer's book into a fresh folder under workDir
// (discovery before it is not timed); throws DavFailure unless it ends well with count cards
// written. The folder is removed afterwards.
double vdirsyncerFirstSync(const DavPeer &peer, const std::string &workDir, size_t count);

// Where vdirsyncer's folders go: a fresh folder in memory (/dev/shm) when there is one, else
// under fallback. vdirsyncer writes and syncs one file per card, and on a disk shared with
// other work those syncs vary from one run to the next by more than a server's whole answer:
// in memory the figure is the server's and vdirsyncer's own work. Gives "" when none could be
// made.
std::string vdirsyncerScratch(const std::string &fallback);

}  // namespace davbench
