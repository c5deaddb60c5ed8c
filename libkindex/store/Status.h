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
    kNotFound,    // no store where one was expected
    kNotOurs,     // a database, but not one this library wrote: never touched
    kCorruption,  // ours, but its content cannot be read
    kBusy,        // another process held the book for longer than we wait
    kReadOnly,    // the store or its directory refuses writes
    kIOError,
    kInvalid,  // a caller's mistake
  };

  Status() = default;
  Status(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  static Status ok() { return Status(); }
  // rc is an SQLite result code; db (may be null) supplies the detailed message.
  static Status fromSqlite(int rc, sqlite3 *db, const char *doing);

  bool isOk() const { return kind_ == kOk; }
  Kind kind() const { return kind_; }
  const std::string &message() const { return message_; }

 private:
  Kind kind_ = kOk;
  std::string message_;
};

}  // namespace kx
