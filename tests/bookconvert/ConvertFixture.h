// A test of bookconvert as a black box: a GNUstep home of the test's own (so the shared
// book lands in a temporary directory), archives written by gnumail-archive from a
// description, runs of the real program, and the stored book read back through libKindex.
#pragma once

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "BookDump.h"
#include "ProgramRun.h"
#include "TempDir.h"

namespace convert_test {

class ConvertFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  // Writes the archive that the property-list description gives (see the generator's
  // BookDescription.h) and returns its path.
  std::string archive(const std::string &description, const RunOptions &options = RunOptions());
  std::string syntheticArchive(int groups, int entriesPerGroup);
  // A file holding exactly these bytes.
  std::string rawFile(const std::string &bytes);

  ProgramResult convert(const std::string &archivePath, const RunOptions &options = RunOptions());
  ProgramResult runConverter(const std::vector<std::string> &arguments,
                             const RunOptions &options = RunOptions());

  std::string libraryDir() const { return library_; }
  std::string bookLocation() const { return library_ + "/Kindex/AddressBook"; }
  std::vector<std::string> book() const { return dumpBook(bookLocation()); }
  // Every file below the book's location with its bytes; empty when there is none.
  std::map<std::string, std::string> storeFiles() const;

  std::string scratch() const { return dir_->path(); }

 private:
  std::unique_ptr<kxtest::TempDir> dir_;
  std::string library_;
  int files_ = 0;
};

// The program's standard output for a run that converted: progress line and summary.
std::string convertedOutput(const std::string &path, int groups, int people);
// The progress line alone.
std::string progressLine(const std::string &path);

}  // namespace convert_test
