#include "store/Status.h"

#include <cerrno>
#include <sqlite3.h>

namespace kx {

namespace {

// Whether the write that failed hit a full disk or the file-size limit. SQLite's own errno
// (sqlite3_system_errno) is the global errno read after the failure, which later calls may
// have reset; each file of the connection keeps the errno of its own last failure: the
// database's, and the write-ahead log's (a save writes there).
int fullErrno(sqlite3 *db, int system) {
  auto full = [](int e) { return e == ENOSPC || e == EFBIG; };
  if (full(system)) return system;
  int errnoOf = 0;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &errnoOf);
  if (full(errnoOf)) return errnoOf;
  sqlite3_file *log = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) == SQLITE_OK && log != nullptr &&
      log->pMethods != nullptr && log->pMethods->xFileControl != nullptr) {
    errnoOf = 0;
    log->pMethods->xFileControl(log, SQLITE_FCNTL_LAST_ERRNO, &errnoOf);
    if (full(errnoOf)) return errnoOf;
  }
  return 0;
}

}  // namespace

Status Status::fromSqlite(int rc, sqlite3 *db, const char *doing) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return Status();
  std::string text = std::string(doing) + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  // The errno of the system call that failed tells a full disk (ENOSPC) and the file-size
  // limit (EFBIG, which SQLite reports as a plain write error) from other I/O errors, and a
  // refused permission from a missing file.
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
      if (int full = db != nullptr ? fullErrno(db, system) : 0) return Status(kFull, text, full);
      if (system == EACCES || system == EPERM) return Status(kPermission, text, system);
      if (system == EROFS) return Status(kReadOnly, text, system);
      return Status(kIOError, text, system);
    default:
      return Status(kIOError, text);
  }
}

}  // namespace kx
