#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "NobodyProcess.hpp"
#include "TemporaryDirectory.hpp"
#include "ZipMaker.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using testsupport::exists;
using testsupport::lstatOf;
using testsupport::ZipEntry;

namespace {

platform::CapturedOutput ditto(std::vector<std::string> arguments) {
    return platform::runCapturingOutput(platform::paths::ditto(), arguments);
}

std::string linkTarget(const std::string& path) {
    char buffer[4096];
    ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    return length < 0 ? "" : std::string(buffer, static_cast<std::size_t>(length));
}

std::string xattrOf(const std::string& path, const char* name) {
    char buffer[256];
    ssize_t length = ::lgetxattr(path.c_str(), name, buffer, sizeof buffer);
    return length < 0 ? "" : std::string(buffer, static_cast<std::size_t>(length));
}

// A bundle with the things a plain copy tends to lose.
std::string richBundle(const std::string& folder) {
    std::string app = testsupport::buildBundle(folder, "Rich App");
    testsupport::writeFile(app + "/Contents/Frameworks/Kit.framework/Versions/A/Kit", "framework code", 0750);
    EXPECT_EQ(::symlink("A", (app + "/Contents/Frameworks/Kit.framework/Versions/Current").c_str()), 0);
    EXPECT_EQ(::symlink("/etc/hostname", (app + "/Contents/Resources/absolute-link").c_str()), 0);
    EXPECT_EQ(::link((app + "/Contents/Resources/readme.txt").c_str(), (app + "/Contents/Resources/hard.txt").c_str()), 0);
    EXPECT_EQ(::lsetxattr((app + "/Contents/Resources/readme.txt").c_str(), "user.origin", "test", 4, 0), 0);
    timespec old[2] = {{1600000000, 0}, {1600000000, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, (app + "/Contents/MacOS/Sample").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(::chmod((app + "/Contents/Resources").c_str(), 0705), 0);
    return app;
}

}  // namespace

TEST(Ditto, CopyKeepsLinksModesExtendedAttributesTimestampsAndHardLinks) {
    testsupport::TemporaryDirectory folder;
    std::string source = richBundle(folder.path());
    std::string copy = folder / "made on the way/Copy Of.app";
    auto result = ditto({source, copy});
    ASSERT_EQ(result.status, 0) << result.bytes;

    EXPECT_EQ(testsupport::listTree(copy), testsupport::listTree(source));
    EXPECT_EQ(linkTarget(copy + "/Contents/Frameworks/Kit.framework/Versions/Current"), "A");
    EXPECT_EQ(linkTarget(copy + "/Contents/Resources/absolute-link"), "/etc/hostname");
    EXPECT_EQ(lstatOf(copy + "/Contents/Frameworks/Kit.framework/Versions/A/Kit").st_mode & 07777, 0750u);
    EXPECT_EQ(lstatOf(copy + "/Contents/MacOS/Sample").st_mode & 07777, 0755u);
    EXPECT_EQ(lstatOf(copy + "/Contents/Resources").st_mode & 07777, 0705u);
    EXPECT_EQ(lstatOf(copy + "/Contents/MacOS/Sample").st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(xattrOf(copy + "/Contents/Resources/readme.txt", "user.origin"), "test");
    EXPECT_EQ(lstatOf(copy + "/Contents/Resources/readme.txt").st_ino, lstatOf(copy + "/Contents/Resources/hard.txt").st_ino);
    EXPECT_EQ(testsupport::readFile(copy + "/Contents/Resources/hard.txt"), "sample resource\n");
}

// As root the copy keeps owners, set-ID bits and access-control lists; an ordinary
// user's copy drops set-ID bits, which belong with an owner it cannot give.
TEST(Ditto, CopyKeepsOwnersSetIdBitsAndAccessListsOnlyWhereItMay) {
    testsupport::TemporaryDirectory folder;
    ::chmod(folder.path().c_str(), 0755);
    std::string app = testsupport::buildBundle(folder.path(), "Owned");
    std::string tool = app + "/Contents/MacOS/tool";
    testsupport::writeFile(tool, "#!/bin/sh\n", 0755);
    ASSERT_EQ(::chown(tool.c_str(), testsupport::nobodyIdentifier, testsupport::nobodyIdentifier), 0);
    ASSERT_EQ(::chmod(tool.c_str(), 04755), 0);
    // user::rwx user:65534:r-- group::r-x mask::r-x other::r-- in the kernel's layout.
    const std::uint32_t entries[] = {2, 0x1 | 7 << 16, 0xffffffff, 0x2 | 4 << 16, 65534, 0x4 | 5 << 16, 0xffffffff,
                                     0x10 | 5 << 16, 0xffffffff, 0x20 | 4 << 16, 0xffffffff};
    std::string acl(reinterpret_cast<const char*>(entries), sizeof entries);
    std::string readme = app + "/Contents/Resources/readme.txt";
    ASSERT_EQ(::lsetxattr(readme.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0) << std::strerror(errno);

    std::string copy = folder / "Copy.app";
    auto result = ditto({app, copy});
    ASSERT_EQ(result.status, 0) << result.bytes;
    EXPECT_EQ(lstatOf(copy + "/Contents/MacOS/tool").st_uid, testsupport::nobodyIdentifier);
    EXPECT_EQ(lstatOf(copy + "/Contents/MacOS/tool").st_mode & 07777, 04755u);
    EXPECT_EQ(xattrOf(copy + "/Contents/Resources/readme.txt", "system.posix_acl_access"), acl);
    EXPECT_EQ(lstatOf(copy + "/Contents/Resources/readme.txt").st_mode & 0777, lstatOf(readme).st_mode & 0777);

    ::chmod(folder.path().c_str(), 0777);
    std::string userCopy = folder / "User Copy.app";
    std::string status = testsupport::runAsNobody([&] { return std::to_string(ditto({app, userCopy}).status); });
    EXPECT_EQ(status, "0");
    EXPECT_EQ(lstatOf(userCopy + "/Contents/MacOS/tool").st_uid, testsupport::nobodyIdentifier);
    EXPECT_EQ(lstatOf(userCopy + "/Contents/MacOS/tool").st_mode & 07777, 0755u);
}

TEST(Ditto, CopyRefusesAnExistingDestinationAndSpecialFiles) {
    testsupport::TemporaryDirectory folder;
    std::string source = testsupport::buildBundle(folder.path(), "Source");
    std::string existing = testsupport::buildBundle(folder.path(), "Existing");
    std::string before = testsupport::listTree(existing);
    auto result = ditto({source, existing});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("File exists"), std::string::npos) << result.bytes;
    EXPECT_EQ(testsupport::listTree(existing), before);

    ASSERT_EQ(::mkfifo((source + "/Contents/Resources/pipe").c_str(), 0644), 0);
    result = ditto({source, folder / "Copy.app"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("special files are not copied"), std::string::npos) << result.bytes;
}

TEST(Ditto, HostileZipEntriesAreRefusedByNameAndNothingIsExtracted) {
    testsupport::TemporaryDirectory folder;
    std::string outside = folder / "outside";
    struct Case {
        std::vector<ZipEntry> entries;
        std::string named;
    };
    const ZipEntry good{"App.app/Contents/Info.plist", ZipEntry::Kind::file, "<plist/>"};
    const Case cases[] = {
        {{good, {outside + "/evil", ZipEntry::Kind::file, "x"}}, outside + "/evil"},
        {{good, {"../outside/evil", ZipEntry::Kind::file, "x"}}, "../outside/evil"},
        {{good, {"App.app/../../outside/evil", ZipEntry::Kind::file, "x"}}, "App.app/../../outside/evil"},
        {{good, {"App.app/link", ZipEntry::Kind::symbolicLink, outside}, {"App.app/link/evil", ZipEntry::Kind::file, "x"}},
         "App.app/link/evil"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
        std::string zip = folder / "hostile.zip";
        testsupport::writeZip(zip, c.entries);
        std::string target = folder / "target";
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);

        auto result = ditto({"-x", "-k", zip, target});
        EXPECT_NE(result.status, 0) << c.named;
        EXPECT_NE(result.bytes.find(c.named), std::string::npos) << result.bytes;
        EXPECT_EQ(testsupport::listTree(target), "") << c.named;
        EXPECT_EQ(testsupport::listTree(outside), "") << c.named;
        platform::removeRecursively(target);
        platform::removeRecursively(outside);
    }
}

TEST(Ditto, ExtractionNeverRestoresSetIdBitsAndRefusesAMissingTarget) {
    testsupport::TemporaryDirectory folder;
    std::string zip = folder / "setid.zip";
    testsupport::writeZip(zip, {{"App.app/tool", ZipEntry::Kind::file, "#!/bin/sh\n", 06755},
                                {"App.app/sticky", ZipEntry::Kind::directory, "", 01777}});
    ASSERT_EQ(::mkdir((folder / "target").c_str(), 0755), 0);
    auto result = ditto({"-x", "-k", zip, folder / "target"});
    ASSERT_EQ(result.status, 0) << result.bytes;
    EXPECT_EQ(lstatOf(folder / "target/App.app/tool").st_mode & 07777, 0755u);

    EXPECT_NE(ditto({"-x", "-k", zip, folder / "absent"}).status, 0);
    EXPECT_FALSE(exists(folder / "absent"));
}
