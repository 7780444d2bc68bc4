#include "PrivilegedInstaller.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/Identifiers.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

std::string escapingLineBreaks(const std::string& message) {
    std::string escaped;
    escaped.reserve(message.size());
    for (char c : message) {
        if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else escaped += c;
    }
    return escaped;
}

}  // namespace

PrivilegedInstaller::PrivilegedInstaller(HelperPolicy policy)
    : policy_(std::move(policy)), logURL_(policy_.logFilePath), queue_(policy_.machServiceName + ".install") {}

void PrivilegedInstaller::scheduleInstall(const autoupdatekit::PrivilegedUpdateRequest&, Reply withReply) {
    withReply(autoupdatekit::PrivilegedUpdateReply(false, "Installing is not available in this helper yet."));
}

void PrivilegedInstaller::installSystemLaunchAgent(Reply withReply) {
    withReply(autoupdatekit::PrivilegedUpdateReply(false, "Installing the system LaunchAgent is not available in this helper yet."));
}

void PrivilegedInstaller::log(const std::string& message) const {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::string line = platform::iso8601UTC(now) + " " + escapingLineBreaks(message) + "\n";
    // O_NOFOLLOW: the helper runs as root and must not write through a planted link.
    platform::FileDescriptor fd(::open(logURL_.path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return;
    // One write of the whole line: lines from several threads never interleave.
    [[maybe_unused]] ssize_t written = ::write(fd.get(), line.data(), line.size());
}

}  // namespace privilegedhelper
