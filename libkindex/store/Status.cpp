#include "store/Status.h"

#include <cerrno>
#include <sqlite3.h>

namespace kx {

Status Status::fromSqlite(int rc, sqlite3 *db, const char *doing) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return Status();
  std::string text = std::string(doing) + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  // SQLite keeps the errno of the system call that failed; it tells a full disk (ENOSPC) and
  // the file-size limit (EFBIG, which SQLite reports as a plain write error) from other I/O
  // errors, and a refused permission from a missing file.
  int system = db != nullptr ? sqlite3_system_errno(db) : 0;
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
      return Status(kNotOurs, text);
    case SQLITE_CORRUPT:
      return Status(kCorruption, text);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status(kBusy, text);
    case SQLITE_READONLY:
      return Status(kReadOnly, text, system);
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Status(kPermission, text, system);
    case SQLITE_CANTOPEN:
      if (system == EACCES || system == EPERM) return Status(kPermission, text, system);
      return Status(kNotFound, text, system);
    case SQLITE_FULL:
      return Status(kFull, text, system != 0 ? system : ENOSPC);
    case SQLITE_MISUSE:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
      return Status(kInvalid, text);
    case SQLITE_IOERR:
      if (system == ENOSPC || system == EFBIG) return Status(kFull, text, system);
      if (system == EACCES || system == EPERM) return Status(kPermission, text, system);
      if (system == EROFS) return Status(kReadOnly, text, system);
      return Status(kIOError, text, system);
    default:
      return Status(kIOError, text);
  }
}

}  // namespace kx
