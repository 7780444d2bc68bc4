#include "Files.hpp"

#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>

namespace testsupport {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = "/tmp/autoupdatekit-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    try {
        platform::removeRecursively(path_);
    } catch (...) {
        // A test that failed half-way may leave an unremovable entry; never throw here.
    }
}

void writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
    platform::createDirectories(path.substr(0, path.rfind('/')));
    platform::writeFileAtomically(path, bytes, mode);
}

std::string readFile(const std::string& path) { return platform::readWholeFile(path); }

std::string readFileIfAny(const std::string& path) {
    try {
        return platform::readWholeFile(path);
    } catch (const std::exception&) {
        return "";
    }
}

std::string lineOnceWritten(const std::string& path) {
    std::string text;
    waitUntil([&] { return !(text = readFileIfAny(path)).empty() && text.back() == '\n'; }, std::chrono::seconds(5));
    return text;
}

std::string timestampedMessages(const std::string& log) {
    std::string messages;
    for (std::size_t start = 0, end = 0; start < log.size(); start = end + 1) {
        end = std::min(log.find('\n', start), log.size());
        if (end - start >= 21 && log[start + 4] == '-' && log[start + 19] == 'Z') messages += log.substr(start + 21, end - start - 21) + "\n";
    }
    return messages;
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

struct stat lstatOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("lstat " + path);
    return status;
}

platform::PropertyDictionary readDictionary(const std::string& path) {
    platform::PropertyValue value = platform::PropertyList::readFile(path);
    const auto* dictionary = value.getIf<platform::PropertyDictionary>();
    if (dictionary == nullptr) throw std::runtime_error(path + " does not hold a dictionary");
    return *dictionary;
}

std::string listTree(const std::string& folder) {
    std::vector<std::string> entries;
    std::error_code missing;  // a missing folder lists nothing
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, missing)) {
        entries.push_back(entry.path().string().substr(folder.size() + 1));
    }
    std::sort(entries.begin(), entries.end());
    std::string text;
    for (const auto& entry : entries) text += entry + "\n";
    return text;
}

void writeStaleSampleBackups(const std::string& folder) {
    // A minute either side, so a clock stepped while the test runs still meets one.
    std::time_t now = std::time(nullptr);
    for (int second = -60; second <= 60; ++second) {
        std::time_t when = now + second;
        std::tm local{};
        ::localtime_r(&when, &local);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
        writeFile(folder + "/Sample.autoupdate-backup-" + stamp + ".app/stale", "old backup");
    }
}

SeparatedOutput runSeparatingOutput(const std::string& executablePath, const std::vector<std::string>& arguments) {
    TemporaryDirectory folder;
    std::vector<std::string> shell = {"-c", "out=$1 err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"", "sh",
                                      folder / "stdout", folder / "stderr", executablePath};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    auto result = platform::runCapturingOutput("/bin/sh", shell);
    return {result.status, readFile(folder / "stdout"), readFile(folder / "stderr")};
}

}  // namespace testsupport
