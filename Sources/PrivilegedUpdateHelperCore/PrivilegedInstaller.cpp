#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "LogText.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/Service.hpp"
#include "Platform/Identifiers.hpp"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

using autoupdatekit::PrivilegedUpdateReply;
using autoupdatekit::PrivilegedUpdateRequest;

// Who to relaunch the app as: the peer of the connection carrying the request. A root
// peer needs no switch; without a peer (not over a connection) there is none.
std::optional<platform::ChildIdentity> requesterIdentity() {
    auto peer = platform::ipc::currentPeerCredentials();
    if (!peer || peer->userIdentifier == 0) return std::nullopt;
    return platform::ChildIdentity{peer->userIdentifier, peer->groupIdentifier};
}

}  // namespace

PrivilegedInstaller::PrivilegedInstaller(HelperPolicy policy)
    : policy_(std::move(policy)), logURL_(policy_.logFilePath) {}

void PrivilegedInstaller::scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) {
    auto reject = [&](const std::string& description) {
        log("rejected update: " + boundedLogField(description));
        withReply(PrivilegedUpdateReply(false, description));
    };
    try {
        validateRequest(request);
    } catch (const std::exception& error) {
        return reject(error.what());
    }
    auto job = [this, request, requester = requesterIdentity()] { runInstallJob(request, requester); };
    auto peer = platform::ipc::currentPeerCredentials();
    // A requester of 2 or more is the peer itself (validated), followed by its pidfd.
    auto requester = request.requestingProcessIdentifier() >= 2 && peer ? peer->processDescriptor : nullptr;
    switch (installQueue_.add(peer ? peer->userIdentifier : 0, request, std::move(requester), std::move(job))) {
    case InstallQueue::Admission::overCap:
        return reject(HelperError::policyMismatch("Too many installs are pending for this user.").description());
    case InstallQueue::Admission::alreadyScheduled:
        log("update " + boundedLogField(request.updateIdentifier()) + " already scheduled");
        return withReply(PrivilegedUpdateReply(true, "Install already scheduled."));
    case InstallQueue::Admission::scheduled:
        break;
    }
    log("accepted update " + boundedLogField(request.updateIdentifier()) + " staged=" + boundedLogField(request.stagedAppPath()));
    withReply(PrivilegedUpdateReply(true, "Install scheduled."));
}

void PrivilegedInstaller::runInstallJob(const PrivilegedUpdateRequest& request,
                                        const std::optional<platform::ChildIdentity>& requester) const {
    try {
        install(request);
    } catch (const std::exception& error) {
        log("install failed: " + boundedLogField(error.what()));
        return;
    }
    log("installed update " + boundedLogField(request.updateIdentifier()));
    if (!request.launchAfterInstall()) return;
    try {
        launchApp(policy_.destinationPath, requester);
    } catch (const std::exception& error) {
        log("install failed: " + boundedLogField(error.what()));
    }
}

void PrivilegedInstaller::installSystemLaunchAgent(Reply withReply) {
    try {
        installSystemLaunchAgent();
    } catch (const std::exception& error) {
        log("system LaunchAgent install failed: " + boundedLogField(error.what()));
        withReply(PrivilegedUpdateReply(false, error.what()));
        return;
    }
    log("system LaunchAgent installed");
    withReply(PrivilegedUpdateReply(true, "System LaunchAgent installed."));
}

void PrivilegedInstaller::log(const std::string& message) const {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::string line = platform::iso8601UTC(now) + " " + escapedForLog(message) + "\n";
    // O_NOFOLLOW: the helper runs as root and must not write through a planted link.
    platform::FileDescriptor fd(::open(logURL_.path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return;
    // One write of the whole line: lines from several threads never interleave.
    [[maybe_unused]] ssize_t written = ::write(fd.get(), line.data(), line.size());
}

}  // namespace privilegedhelper
