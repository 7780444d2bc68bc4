#include "Platform/Process.hpp"

#include <gtest/gtest.h>

TEST(HelperPolicy, GenericHelperWithoutAPolicyExitsWithOneLine) {
    auto result = platform::runCapturingOutput(AUTOUPDATEKIT_GENERIC_HELPER_PATH, {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.bytes, "PrivilegedUpdateHelper failed: Missing helper policy value AutoUpdateAllowedBundleIdentifier.\n");
}
