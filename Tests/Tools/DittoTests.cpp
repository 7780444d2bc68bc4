#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "ChildProcess.hpp"
#include "ReleaseBuilder.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace testsupport;

namespace {

platform::CapturedOutput ditto(std::vector<std::string> arguments) {
    return platform::runCapturingOutput(platform::paths::ditto(), arguments);
}

std::string xattrOf(const std::string& path, const char* name) {
    char buffer[256];
    ssize_t length = ::lgetxattr(path.c_str(), name, buffer, sizeof buffer);
    return length < 0 ? "" : std::string(buffer, static_cast<std::size_t>(length));
}

// Each entry below the folder with what a copy keeps: type, mode, owner, link count, time
// and link target, with the bytes of every file.
std::string describeTree(const std::string& folder) {
    const std::string listing = "cd \"$0\" && find . -printf '%p %y %m %U:%G %n %T@ %l\\n' | sort && find . -type f -print0 | sort -z | xargs -0 cat";
    return platform::runCapturingOutput("/bin/sh", {"-c", listing, folder}).bytes;
}

}  // namespace

// The copy keeps links, modes, owners, set-ID bits, access-control lists and other
// extended attributes, times and hard links; an ordinary user's copy drops set-ID bits,
// which belong with an owner it cannot give. An existing destination is left alone and
// a special file refused.
TEST(Ditto, CopyKeepsWhatItMayAndRefusesAnExistingDestinationOrASpecialFile) {
    TemporaryDirectory folder;
    ::chmod(folder.path().c_str(), 0777);  // an ordinary user copies here too
    std::string app = buildBundle(folder.path(), "Rich App");
    writeFile(app + "/Contents/Frameworks/Kit.framework/Versions/A/Kit", "framework code", 0754);
    ASSERT_EQ(::symlink("A", (app + "/Contents/Frameworks/Kit.framework/Versions/Current").c_str()), 0);
    ASSERT_EQ(::symlink("/etc/hostname", (app + "/Contents/Resources/absolute-link").c_str()), 0);
    std::string readme = app + "/Contents/Resources/readme.txt";
    ASSERT_EQ(::link(readme.c_str(), (app + "/Contents/Resources/hard.txt").c_str()), 0);
    ASSERT_EQ(::lsetxattr(readme.c_str(), "user.origin", "test", 4, 0), 0);
    // user::rwx user:65534:r-- group::r-x mask::r-x other::r-- in the kernel's layout.
    const std::uint32_t entries[] = {2, 0x1 | 7 << 16, 0xffffffff, 0x2 | 4 << 16, 65534, 0x4 | 5 << 16, 0xffffffff,
                                     0x10 | 5 << 16, 0xffffffff, 0x20 | 4 << 16, 0xffffffff};
    ASSERT_EQ(::lsetxattr(readme.c_str(), "system.posix_acl_access", entries, sizeof entries, 0), 0) << std::strerror(errno);
    std::string tool = app + "/Contents/MacOS/tool";
    writeFile(tool, "#!/bin/sh\n", 0755);
    ASSERT_EQ(::chown(tool.c_str(), nobodyIdentifier, nobodyIdentifier), 0);
    ASSERT_EQ(::chmod(tool.c_str(), 04755), 0);
    timespec old[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (app + "/Contents/MacOS/Sample").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::chmod((app + "/Contents/Resources").c_str(), 0705), 0);

    std::string copy = folder / "made on the way/Copy Of.app";
    auto result = ditto({app, copy});
    ASSERT_EQ(result.status, 0) << result.bytes;
    std::string copied = describeTree(copy);
    EXPECT_EQ(copied, describeTree(app));
    for (const char* attribute : {"user.origin", "system.posix_acl_access"}) {
        EXPECT_EQ(xattrOf(copy + "/Contents/Resources/readme.txt", attribute), xattrOf(readme, attribute)) << attribute;
    }

    std::string userCopy = folder / "User Copy.app";
    EXPECT_EQ(runAsNobody([&] { return std::to_string(ditto({app, userCopy}).status); }), "0");
    EXPECT_EQ(lstatOf(userCopy + "/Contents/MacOS/tool").st_mode & 07777, 0755u);

    result = ditto({app, copy});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("File exists"), std::string::npos) << result.bytes;
    EXPECT_EQ(describeTree(copy), copied);

    ASSERT_EQ(::mkfifo((app + "/Contents/Resources/pipe").c_str(), 0644), 0);
    result = ditto({app, folder / "Copy.app"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.bytes.find("special files are not copied"), std::string::npos) << result.bytes;
}

// An entry that would land outside the target is refused by name and nothing is
// extracted; extraction never restores set-ID bits, and needs its target to exist.
TEST(Ditto, HostileZipEntriesAreRefusedByNameAndExtractionDropsSetIdBits) {
    TemporaryDirectory folder;
    std::string outside = folder / "outside";
    std::string zip = folder / "archive.zip";
    std::string target = folder / "target";
    const ZipEntry good{"App.app/Contents/Info.plist", ZipEntry::Kind::file, "<plist/>"};
    // The entries, and the one the refusal names.
    const std::pair<std::vector<ZipEntry>, std::string> cases[] = {
        {{good, {outside + "/evil", ZipEntry::Kind::file, "x"}}, outside + "/evil"},
        {{good, {"../outside/evil", ZipEntry::Kind::file, "x"}}, "../outside/evil"},
        {{good, {"App.app/../../outside/evil", ZipEntry::Kind::file, "x"}}, "App.app/../../outside/evil"},
        {{good, {"App.app/link", ZipEntry::Kind::symbolicLink, outside}, {"App.app/link/evil", ZipEntry::Kind::file, "x"}},
         "App.app/link/evil"},
    };
    for (const auto& [entries, named] : cases) {
        SCOPED_TRACE(named);
        ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
        writeZip(zip, entries);
        auto result = ditto({"-x", "-k", zip, target});
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.bytes.find(named), std::string::npos) << result.bytes;
        EXPECT_EQ(listTree(target), "");
        EXPECT_EQ(listTree(outside), "");
        platform::removeRecursively(target);
        platform::removeRecursively(outside);
    }

    writeZip(zip, {{"App.app/tool", ZipEntry::Kind::file, "#!/bin/sh\n", 06755}, {"App.app/sticky", ZipEntry::Kind::directory, "", 01777}});
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    auto result = ditto({"-x", "-k", zip, target});
    ASSERT_EQ(result.status, 0) << result.bytes;
    EXPECT_EQ(lstatOf(target + "/App.app/tool").st_mode & 07777, 0755u);
    EXPECT_NE(ditto({"-x", "-k", zip, folder / "absent"}).status, 0);
    EXPECT_FALSE(exists(folder / "absent"));
}
