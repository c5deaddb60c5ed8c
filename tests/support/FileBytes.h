// Files as exact bytes, for tests that write inputs and compare what a program stored.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kxtest {

void writeFile(const std::string &path, const std::string &content);
// The file's bytes; empty when it cannot be read.
std::string readFile(const std::string &path);
// Every regular file below dir, by path relative to dir, with its bytes; sorted by path.
std::vector<std::pair<std::string, std::string>> readTree(const std::string &dir);

}  // namespace kxtest
