// Ports for test and benchmark servers on 127.0.0.1, so that tests run side by side
// (ctest -j) never fight over a fixed number.
#pragma once

#include <netinet/in.h>

namespace kxtest {

// 127.0.0.1:port, ready for connect or bind.
sockaddr_in loopbackAddress(int port);

// A loopback TCP port that was free a moment ago (bound to 0, then released); -1 when no
// socket could be had.
int freePort();

}  // namespace kxtest
