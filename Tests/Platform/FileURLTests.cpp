#include "Platform/FileURL.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

using platform::FileURL;

TEST(FileURL, StandardizationRemovesDotsAndTrailingSlashesWithoutTouchingTheDisk) {
    struct Case {
        std::string input;
        std::string standardized;
    };
    const Case cases[] = {
        {"/Applications/Foo.app/", "/Applications/Foo.app"},
        {"/Applications/./Foo.app", "/Applications/Foo.app"},
        {"/Applications/Bar/../Foo.app", "/Applications/Foo.app"},
        {"/Applications/../etc/passwd", "/etc/passwd"},
        {"/../..", "/"},
        {"//Applications//Foo.app//", "/Applications/Foo.app"},
        {"/", "/"},
        {"/a/b/c/../../d/./e/..", "/a/d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileURL(c.input).standardized().path(), c.standardized) << c.input;
    }
}

TEST(FileURL, RelativePathsAreTakenAgainstTheWorkingDirectory) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(FileURL("Foo.app").path(), std::string(cwd) + "/Foo.app");
    EXPECT_EQ(FileURL("").path(), std::string(cwd));
    EXPECT_EQ(FileURL("./x/../y").standardized().path(), FileURL(std::string(cwd) + "/y").path());
}

TEST(FileURL, ComponentOperations) {
    FileURL url("/Users/me/Applications/Foo.app/");
    EXPECT_EQ(url.path(), "/Users/me/Applications/Foo.app");
    EXPECT_EQ(url.lastPathComponent(), "Foo.app");
    EXPECT_EQ(url.deletingLastPathComponent().path(), "/Users/me/Applications");
    EXPECT_EQ(url.appending("Contents").path(), "/Users/me/Applications/Foo.app/Contents");
    EXPECT_EQ(FileURL("/Foo").deletingLastPathComponent().path(), "/");
    EXPECT_EQ(FileURL("/").appending("Applications").path(), "/Applications");
}
