#include "Platform/FileURL.hpp"

#include <gtest/gtest.h>

using platform::FileURL;

TEST(FileURL, StandardizationRemovesDotsAndTrailingSlashesWithoutTouchingTheDisk) {
    struct Case {
        std::string input;
        std::string standardized;
    };
    const Case cases[] = {
        {"/Applications/Foo.app/", "/Applications/Foo.app"},
        {"/Applications/Bar/../Foo.app", "/Applications/Foo.app"},
        {"/Applications/../etc/passwd", "/etc/passwd"},
        {"/../..", "/"},
        {"//Applications//Foo.app//", "/Applications/Foo.app"},
        {"/a/b/c/../../d/./e/..", "/a/d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileURL(c.input).standardized().path(), c.standardized) << c.input;
    }
}

