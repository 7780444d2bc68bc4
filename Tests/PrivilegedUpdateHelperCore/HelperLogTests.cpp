// The helper's log as a unit, on real files in a temporary folder: whole lines from
// many threads, rotation at its size without following links, the refusal limit, and
// its folder made only where nobody else could have made it.
// Line breaks in logged client text, and the limit against the real helper, are in
// LocalAttackerTests.

#include "HelperLog.hpp"

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace privilegedhelper;
using testsupport::readFile;

namespace {

constexpr off_t fullSize = static_cast<off_t>(HelperLog::maximumFileSize);
// Room left in a nearly full log: 8 threads of 200 lines take it past once.
constexpr off_t roomLeft = 100 * 1024;

// A log of size bytes, sparse, made in no time.
void makeLog(const std::string& path, off_t size) {
    testsupport::writeFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

}  // namespace

TEST(HelperLog, LinesFromManyThreadsStayWholeAcrossARotation) {
    testsupport::TemporaryDirectory folder;
    std::string path = folder / "helper.log";
    makeLog(path, fullSize - roomLeft);
    HelperLog log{platform::FileURL(path)};
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 8; ++thread) {
        writers.emplace_back([&log, thread] {
            for (int line = 0; line < 200; ++line) log.write("thread " + std::to_string(thread) + " " + std::string(300, 'x'));
        });
    }
    for (auto& writer : writers) writer.join();

    // The earlier file keeps what it held and the lines up to its limit; the rest are
    // in the new file. No line is lost, split or mixed with another.
    std::string rotated = readFile(path + ".1");
    EXPECT_LE(rotated.size(), HelperLog::maximumFileSize);
    EXPECT_GT(rotated.size(), HelperLog::maximumFileSize - 1000);
    std::string lines = rotated.substr(fullSize - roomLeft) + readFile(path);
    std::size_t count = 0;
    for (std::size_t start = 0; start < lines.size(); start = lines.find('\n', start) + 1, ++count) {
        ASSERT_EQ(lines.find('\n', start) - start, 21 + std::string("thread 0 ").size() + 300) << lines.substr(start, 80);
    }
    EXPECT_EQ(count, 8u * 200);

}

// A missing log folder is made, root's alone, when only its last component is missing
// and root alone can change its parent; otherwise the line is lost, nothing is made,
// and nothing fails.
TEST(HelperLog, MakesAMissingFolderOnlyWhereNobodyElseCouldHaveMadeIt) {
    testsupport::TemporaryDirectory folder;
    HelperLog(platform::FileURL(folder / "made/helper.log")).write("kept");
    EXPECT_EQ(testsupport::timestampedMessages(testsupport::readFileIfAny(folder / "made/helper.log")), "kept\n");
    struct stat made = testsupport::lstatOf(folder / "made");
    EXPECT_EQ(made.st_mode, S_IFDIR | 0755u);
    EXPECT_EQ(made.st_uid, 0u);

    platform::createDirectories(folder / "open");
    ::chmod((folder / "open").c_str(), 0777);
    platform::createDirectories(folder / "users");
    ::chown((folder / "users").c_str(), 65534, 65534);
    ::symlink((folder / "target").c_str(), (folder / "link").c_str());
    for (std::string refused : {"missing/logs", "open/logs", "users/logs", "link"}) HelperLog(platform::FileURL(folder / refused + "/helper.log")).write("lost");
    // Nothing made under any of them, nor at the link's target.
    EXPECT_EQ(testsupport::listTree(folder.path()), "link\nmade\nmade/helper.log\nopen\nusers\n");
}

// A link planted at the log's name or at the earlier file's name is never written
// through: the target keeps its bytes, a link at the earlier name is replaced.
TEST(HelperLog, RotationNeverFollowsAPlantedLink) {
    for (std::string planted : {".1", ""}) {
        testsupport::TemporaryDirectory folder;
        std::string path = folder / "helper.log";
        testsupport::writeFile(folder / "victim", "secret\n");
        if (!planted.empty()) makeLog(path, fullSize);
        ASSERT_EQ(::symlink((folder / "victim").c_str(), (path + planted).c_str()), 0);

        HelperLog(platform::FileURL(path)).write("after");
        EXPECT_EQ(readFile(folder / "victim"), "secret\n") << planted;
        if (planted.empty()) {
            EXPECT_TRUE(S_ISLNK(testsupport::lstatOf(path).st_mode));
            EXPECT_FALSE(testsupport::exists(path + ".1"));
        } else {
            EXPECT_TRUE(S_ISREG(testsupport::lstatOf(path + ".1").st_mode));
            EXPECT_EQ(testsupport::lstatOf(path + ".1").st_size, fullSize);
            EXPECT_EQ(testsupport::timestampedMessages(readFile(path)), "after\n");
        }
    }
}

// Each user's refusals are logged 20 a minute; the next one logged after a pause says
// how many were left out. Root's are all logged.
TEST(HelperLog, EachUsersRefusalsAreLoggedTwentyAMinute) {
    testsupport::TemporaryDirectory folder;
    HelperLog log{platform::FileURL(folder / "helper.log")};
    auto start = std::chrono::steady_clock::now();
    const struct {
        int second;
        uid_t user;
        int refusals;
    } sent[] = {{0, 65534, 50}, {0, 1000, 1}, {0, 0, 30}, {59, 65534, 1}, {60, 65534, 2}, {61, 1000, 1}, {200, 65534, 1}};
    for (const auto& [second, user, refusals] : sent) {
        for (int refusal = 0; refusal < refusals; ++refusal) {
            log.logRefusal(user, "refused " + std::to_string(user), start + std::chrono::seconds(second));
        }
    }

    auto repeated = [](const std::string& line, int times) {
        std::string lines;
        for (int time = 0; time < times; ++time) lines += line + "\n";
        return lines;
    };
    EXPECT_EQ(testsupport::timestampedMessages(readFile(folder / "helper.log")),
              repeated("refused 65534", 20) + "refused 1000\n" + repeated("refused 0", 30) +
                  "left out 31 refusals from uid 65534\n" + repeated("refused 65534", 2) + "refused 1000\n" + "refused 65534\n");
}
