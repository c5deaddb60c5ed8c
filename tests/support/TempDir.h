// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
#pragma once

#include <string>

namespace kxtest {

class TempDir {
 public:
  explicit TempDir(const std::string &prefix = "kindex-test");
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const;
  // Makes path() + "/" + name (one level) and gives its path.
  std::string makeDir(const std::string &name) const;

 private:
  std::string path_;
};

// Removes path and everything below it; no error when it does not exist.
void removeTree(const std::string &path);

}  // namespace kxtest
