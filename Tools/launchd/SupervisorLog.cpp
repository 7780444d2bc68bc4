#include "SupervisorLog.hpp"

#include "Platform/FileURL.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/LogFolder.hpp"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace launchd::SupervisorLog {
namespace {

// Past this size the file starts again: job starts can be asked for by anyone.
constexpr off_t maximumFileSize = 8 * 1024 * 1024;

void appendToFile(const std::string& line) {
    platform::FileURL url(filePath);
    platform::FileDescriptor folder = platform::openLogFolder(url.deletingLastPathComponent().path());
    if (!folder.valid()) return;
    platform::FileDescriptor file(::openat(folder.get(), url.lastPathComponent().c_str(),
                                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return;
    if (status.st_size >= maximumFileSize && ::ftruncate(file.get(), 0) != 0) return;
    [[maybe_unused]] ssize_t written = ::write(file.get(), line.data(), line.size());
}

}  // namespace

void write(const std::string& message) {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::string line = platform::iso8601UTC(now) + " autoupdatekit-launchd: " + message + "\n";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    if (std::getenv("JOURNAL_STREAM") == nullptr) appendToFile(line);
}

}  // namespace launchd::SupervisorLog
