// Saving the user's shared book, remembering a failure for the end of the run: the
// conversion itself carries on, but the run must not then report success.
#pragma once

// Fetches the shared book and saves it; false, and remembered, when there is no book or the
// save fails.
bool SaveSharedBook();
bool SharedBookSaveFailed();
