#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/Service.hpp"
#include "Platform/Identifiers.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace privilegedhelper {
namespace {

using autoupdatekit::PrivilegedUpdateReply;
using autoupdatekit::PrivilegedUpdateRequest;

constexpr auto processProbeInterval = std::chrono::milliseconds(200);

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

bool processExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// Who to relaunch the app as: the peer of the connection carrying the request. A root
// peer needs no switch; without a peer (not over a connection) there is none.
std::optional<platform::ChildIdentity> requesterIdentity() {
    auto peer = platform::ipc::currentPeerCredentials();
    if (!peer || peer->userIdentifier == 0) return std::nullopt;
    return platform::ChildIdentity{peer->userIdentifier, peer->groupIdentifier};
}

}  // namespace

PrivilegedInstaller::PrivilegedInstaller(HelperPolicy policy)
    : policy_(std::move(policy)), logURL_(policy_.logFilePath), queue_(policy_.machServiceName + ".install") {}

void PrivilegedInstaller::scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) {
    try {
        validateRequest(request);
    } catch (const std::exception& error) {
        log(std::string("rejected update: ") + error.what());
        withReply(PrivilegedUpdateReply(false, error.what()));
        return;
    }
    log("accepted update " + request.updateIdentifier() + " staged=" + request.stagedAppPath());
    queue_.async([this, request, requester = requesterIdentity()] { runInstallJob(request, requester); });
    withReply(PrivilegedUpdateReply(true, "Install scheduled."));
}

void PrivilegedInstaller::runInstallJob(const PrivilegedUpdateRequest& request,
                                        const std::optional<platform::ChildIdentity>& requester) const {
    pid_t pid = request.requestingProcessIdentifier();
    // No time limit: while the requesting app runs, this job and all after it wait.
    while (pid >= 2 && processExists(pid)) std::this_thread::sleep_for(processProbeInterval);
    try {
        install(request);
    } catch (const std::exception& error) {
        log(std::string("install failed: ") + error.what());
        return;
    }
    log("installed update " + request.updateIdentifier());
    if (!request.launchAfterInstall()) return;
    try {
        launchApp(policy_.destinationPath, requester);
    } catch (const std::exception& error) {
        log(std::string("install failed: ") + error.what());
    }
}

void PrivilegedInstaller::installSystemLaunchAgent(Reply withReply) {
    try {
        installSystemLaunchAgent();
    } catch (const std::exception& error) {
        log(std::string("system LaunchAgent install failed: ") + error.what());
        withReply(PrivilegedUpdateReply(false, error.what()));
        return;
    }
    log("system LaunchAgent installed");
    withReply(PrivilegedUpdateReply(true, "System LaunchAgent installed."));
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
