#include "FileBytes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kxtest {

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::pair<std::string, std::string>> readTree(const std::string &dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    files.emplace_back(std::filesystem::relative(entry.path(), dir).string(),
                       readFile(entry.path().string()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace kxtest
