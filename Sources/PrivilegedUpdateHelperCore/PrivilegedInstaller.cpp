#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "LogText.hpp"

#include "Platform/IPC/Service.hpp"

#include <malloc.h>

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
        // Refusals cost a client nothing, so each user's are logged at a bounded rate;
        // a request not over a connection counts as root's.
        auto peer = platform::ipc::currentPeerCredentials();
        log_.logRefusal(peer ? peer->userIdentifier : 0, "rejected update: " + boundedLogField(description));
        withReply(PrivilegedUpdateReply(false, description));
    };
    std::shared_ptr<const CheckedStage> stage;
    try {
        stage = validateRequest(request);
    } catch (const std::exception& error) {
        return reject(error.what());
    }
    auto job = [this, request, stage, requester = requesterIdentity()] {
        runInstallJob(request, *stage, requester);
        // A large job leaves freed memory that the allocator would otherwise keep.
        ::malloc_trim(0);
    };
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

void PrivilegedInstaller::runInstallJob(const PrivilegedUpdateRequest& request, const CheckedStage& stage,
                                        const std::optional<platform::ChildIdentity>& requester) const {
    try {
        install(stage);
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

void PrivilegedInstaller::log(const std::string& message) const { log_.write(message); }

}  // namespace privilegedhelper
