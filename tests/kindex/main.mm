// The tool's tests run with GNUstep's user directories in a temporary home, set before GNUstep
// first asks for a path, so that neither this process nor the kindex and bookd it starts (which
// inherit the setting) ever touch the real user's shared book.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>

#include "GNUstepHome.h"
#include "TempDir.h"

std::string kindexTestLibrary;

int main(int argc, char **argv) {
  kxtest::TempDir home("kindex-tool-home");
  kindexTestLibrary = kxtest::useGNUstepHome(home.path());
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  ::testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  [pool release];
  return status;
}
