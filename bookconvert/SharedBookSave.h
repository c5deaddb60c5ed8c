// Saving the user's shared book, remembering a failure for the end of the run: the
// conversion itself carries on, but the run must not then report success.
#pragma once

#include <string>

// Fetches the shared book and saves it; false, and remembered, when there is no book or the
// save fails. What the library logs about it is held back and kept as the reason.
bool SaveSharedBook();
bool SharedBookSaveFailed();
// The library's last words on a failed save, one line; empty when it said nothing.
std::string SharedBookSaveFailure();
