#include "ConvertFixture.h"
#include "FileBytes.h"

#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include "GNUstepHome.h"

namespace convert_test {

void ConvertFixture::SetUp() {
  dir_ = std::make_unique<kxtest::TempDir>("bookconvert-test");
  library_ = kxtest::useGNUstepHome(dir_->path() + "/home");
}

std::string ConvertFixture::rawFile(const std::string &bytes) {
  std::string path = dir_->file("file" + std::to_string(++files_));
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string ConvertFixture::archive(const std::string &description, const RunOptions &options) {
  std::string plist = rawFile(description);
  std::string path = plist + ".archive";
  ProgramResult made = runProgram({GNUMAIL_ARCHIVE_PATH, plist, path}, dir_->path(), options);
  EXPECT_EQ(made.status, 0) << made.error;
  EXPECT_EQ(made.error, "");
  return path;
}

std::string ConvertFixture::syntheticArchive(int groups, int entriesPerGroup) {
  std::string path = dir_->file("synthetic" + std::to_string(++files_) + ".archive");
  ProgramResult made = runProgram(
      {GNUMAIL_ARCHIVE_PATH, "--synthetic", std::to_string(groups), std::to_string(entriesPerGroup), path},
      dir_->path());
  EXPECT_EQ(made.status, 0) << made.error;
  return path;
}

ProgramResult ConvertFixture::convert(const std::string &archivePath, const RunOptions &options) {
  return runConverter({archivePath}, options);
}

ProgramResult ConvertFixture::runConverter(const std::vector<std::string> &arguments,
                                           const RunOptions &options) {
  std::vector<std::string> argv = {BOOKCONVERT_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv, dir_->path(), options);
}

static void collectFiles(const std::string &dir, const std::string &prefix,
                         std::map<std::string, std::string> &files) {
  DIR *listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (struct dirent *entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode))
      collectFiles(path, prefix + name + "/", files);
    else
      files[prefix + name] = kxtest::readFile(path);
  }
  closedir(listing);
}

std::map<std::string, std::string> ConvertFixture::storeFiles() const {
  std::map<std::string, std::string> files;
  collectFiles(bookLocation(), "", files);
  return files;
}

std::string progressLine(const std::string &path) {
  return "Converting from '" + path + "'...\n";
}

std::string convertedOutput(const std::string &path, int groups, int people) {
  return progressLine(path) + "Converted " + std::to_string(groups) + " groups and " +
         std::to_string(people) + " people\n";
}

}  // namespace convert_test
