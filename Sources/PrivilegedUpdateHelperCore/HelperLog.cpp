#include "HelperLog.hpp"

#include "LogText.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/LogFolder.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

// The log file by the folder's descriptor, never through a link, and only when it is a
// regular file; status is filled in.
platform::FileDescriptor openLogFile(int folder, const std::string& name, struct stat& status) {
    platform::FileDescriptor file(::openat(folder, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
    return file;
}

std::string timestamped(const std::string& message) {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    return platform::iso8601UTC(now) + " " + escapedForLog(message) + "\n";
}

}  // namespace

HelperLog::HelperLog(const platform::FileURL& url)
    : folder_(url.deletingLastPathComponent().path()), name_(url.lastPathComponent()), rotatedName_(name_ + ".1") {}

void HelperLog::write(const std::string& message) { append(timestamped(message)); }

void HelperLog::logRefusal(uid_t user, const std::string& message) {
    logRefusal(user, message, std::chrono::steady_clock::now());
}

void HelperLog::logRefusal(uid_t user, const std::string& message, std::chrono::steady_clock::time_point now) {
    if (user == 0) return write(message);
    std::string lines;
    {
        std::lock_guard lock(refusalMutex_);
        RefusalWindow& window = refusals_[user];
        if (window.logged == 0 || now - window.start >= refusalWindow) {
            if (window.leftOut > 0) {
                lines = timestamped("left out " + std::to_string(window.leftOut) + " refusals from uid " + std::to_string(user));
            }
            window = RefusalWindow{now};
        }
        if (window.logged == refusalsPerWindow) {
            ++window.leftOut;
            return;
        }
        ++window.logged;
    }
    // The count and the refusal that ends the pause go out in one write, together.
    append(lines + timestamped(message));
}

void HelperLog::append(const std::string& text) {
    std::lock_guard lock(fileMutex_);
    platform::FileDescriptor folder = platform::openLogFolder(folder_);
    if (!folder.valid()) return;
    struct stat status {};
    platform::FileDescriptor file = openLogFile(folder.get(), name_, status);
    if (!file.valid()) return;
    if (status.st_size > 0 && static_cast<std::uintmax_t>(status.st_size) + text.size() > maximumFileSize) {
        // Move only the file just measured, not whatever holds its name by now; renameat
        // moves names and never follows a link at either of them. When the file cannot
        // be moved, the line is dropped: the bound holds.
        struct stat named {};
        if (::fstatat(folder.get(), name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != status.st_dev ||
            named.st_ino != status.st_ino ||
            ::renameat(folder.get(), name_.c_str(), folder.get(), rotatedName_.c_str()) != 0) {
            return;
        }
        file = openLogFile(folder.get(), name_, status);
        if (!file.valid()) return;
    }
    // One write: lines never interleave, and several lines given together stay together.
    [[maybe_unused]] ssize_t written = ::write(file.get(), text.data(), text.size());
}

}  // namespace privilegedhelper
