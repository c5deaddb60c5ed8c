// The library's tests run with GNUstep's user directories in a temporary home, so the
// shared book never lands in the real user's Library.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>

#include "GNUstepHome.h"
#include "TempDir.h"

std::string kindexTestLibrary;

int main(int argc, char **argv) {
  std::string home = kxtest::restartWithTemporaryGNUstepHome(argv);
  kindexTestLibrary = home + "/Library";
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  ::testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  [pool release];
  kxtest::removeTree(home);
  return status;
}
