#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace kxtest {

TempDir::TempDir(const std::string &prefix) {
  const char *base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  removeTree(path_);
}

std::string TempDir::file(const std::string &name) const {
  return path_ + "/" + name;
}

std::string TempDir::makeDir(const std::string &name) const {
  std::string dir = file(name);
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

void removeTree(const std::string &path) {
  std::error_code error;
  // Tests take permissions away to make unreadable files; give them back so removal works.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path.c_str(), 0700);
  std::filesystem::remove_all(path, error);
}

}  // namespace kxtest
