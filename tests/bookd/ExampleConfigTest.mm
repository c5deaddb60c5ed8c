// The example configuration installed beside the systemd unit is what a new administrator
// copies: bookd must read it, with every one of its settings, comments and all.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>

#include "ConfigFile.h"

TEST(ExampleConfig, BookdReadsEverySetting) {
  ConfigValues values;
  ASSERT_TRUE(readConfigFile(EXAMPLE_CONFIG, values));
  EXPECT_EQ(values.location, std::optional<std::string>("/var/lib/kindex/book"));
  EXPECT_TRUE(values.readOnlyPassword.has_value());
  EXPECT_TRUE(values.readWritePassword.has_value());
  EXPECT_NE(values.readOnlyPassword, values.readWritePassword);
  EXPECT_EQ(values.receivePort, std::optional<int32_t>(7001));
  EXPECT_EQ(values.sendPort, std::optional<int32_t>(7002));
  EXPECT_FALSE(values.listenAddress.has_value());  // shown, commented out: every IPv4 address
}
