// The outcome of a store operation: a named kind and, on failure, a text for the log.
// SQLite's result codes become kinds in exactly one place, Status::fromSqlite.
#pragma once

#include <string>

struct sqlite3;

namespace kx {

class Status {
 public:
  enum Kind {
    kOk,
    kNotFound,      // no store where one was expected
    kNotOurs,       // a database, but not one this library wrote: never touched
    kNewerVersion,  // one of ours, written by a newer version of this library: never touched
    kCorruption,    // ours, but its content cannot be read
    kBusy,          // another process held the book for longer than we wait
    kPermission,    // the system refused access to the store or its directory
    kReadOnly,      // the store, its directory or its file system refuses writes
    kFull,          // the disk is full, or the store reached the file-size limit
    kIOError,
    kInvalid,       // a caller's mistake
    kNotAtVersion,  // a save's required versions did not hold: nothing written
    kNameTaken,     // a resource name a save gives is another record's: nothing written
  };

  Status() = default;
  Status(Kind kind, std::string message, int systemErrno = 0)
      : kind_(kind), message_(std::move(message)), systemErrno_(systemErrno) {}
  static Status ok() { return Status(); }
  // rc is an SQLite result code; db (may be null) supplies the detailed message and the
  // system's error number behind an I/O failure.
  static Status fromSqlite(int rc, sqlite3 *db, const char *doing);

  bool isOk() const { return kind_ == kOk; }
  Kind kind() const { return kind_; }
  const std::string &message() const { return message_; }
  // The errno of the failed system call, when the failure came from one (0 otherwise).
  int systemErrno() const { return systemErrno_; }

 private:
  Kind kind_ = kOk;
  std::string message_;
  int systemErrno_ = 0;
};

}  // namespace kx
