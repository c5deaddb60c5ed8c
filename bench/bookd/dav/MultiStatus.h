// The parts of a WebDAV multi-status answer (207) the benchmark checks: every response's href,
// status, ETag and card. Read after the clock has stopped, so that parsing costs no server
// anything; a benchmark that cannot read an answer stops instead of printing a figure.
#pragma once

#include <string>
#include <vector>

namespace davbench {

struct DavEntry {
  std::string href;         // the path, whatever scheme and host the server put before it
  int status = 0;           // the response's own status, or that of the propstat with the properties
  std::string etag;         // DAV:getetag, when asked for and found
  std::string addressData;  // CARDDAV:address-data, when asked for and found
};

struct MultiStatus {
  std::vector<DavEntry> entries;
  std::string syncToken;  // DAV:sync-token of a sync-collection answer, or of a PROPFIND for it
};

// False with a reason when xml is not a well-formed DAV:multistatus.
bool parseMultiStatus(const std::string &xml, MultiStatus *out, std::string *error);

}  // namespace davbench
