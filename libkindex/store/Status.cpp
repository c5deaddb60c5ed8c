#include "store/Status.h"

#include <sqlite3.h>

namespace kx {

Status Status::fromSqlite(int rc, sqlite3 *db, const char *doing) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return Status();
  std::string text = std::string(doing) + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
      return Status(kNotOurs, text);
    case SQLITE_CORRUPT:
      return Status(kCorruption, text);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status(kBusy, text);
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return Status(kReadOnly, text);
    case SQLITE_CANTOPEN:
      return Status(kNotFound, text);
    case SQLITE_MISUSE:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
      return Status(kInvalid, text);
    default:
      return Status(kIOError, text);
  }
}

}  // namespace kx
