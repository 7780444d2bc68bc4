#pragma once
// The staged app a request names, opened once with the requesting user's own rights.
// A short-lived child takes the user's ids and groups, resolves the path without
// following any link, insists that the user owns the folder, and hands the open folder
// back over a socket. Root then reads, verifies and copies only through that
// descriptor: nothing is looked up again, so a path swapped after the check, or one
// the user could not reach, never leads root anywhere the user could not go.

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/Service.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>

namespace privilegedhelper {

class StagedBundle {
public:
    // How long the child may take (a hung file system) before the path counts as out
    // of the user's reach.
    static constexpr std::chrono::seconds openTimeout{10};

    // Opens path as requester. Throws HelperError.appMissing when the requester cannot
    // reach a folder there (nothing there, a link on the way, no permission, not a
    // folder) and policyMismatch when the folder is not the requester's own; root's
    // requests may stage any folder.
    static StagedBundle open(const std::string& path, const platform::ipc::PeerCredentials& requester);

    // The path the request named, for messages.
    const std::string& requestedPath() const noexcept { return requestedPath_; }
    // A path by which this process and the tools it runs as root reach the opened
    // folder itself, whatever now stands at the requested path.
    const std::string& openedPath() const noexcept { return openedPath_; }
    int descriptor() const noexcept { return folder_->get(); }
    // The user whose entries alone may be read below it; 0 for root's own requests.
    uid_t requester() const noexcept { return requester_; }

    // Puts the opened path back as the requested one in a message meant for the client.
    std::string withRequestedPath(std::string message) const;

private:
    StagedBundle(std::string requestedPath, platform::FileDescriptor folder, uid_t requester);

    std::string requestedPath_;
    // Shared, so the queued install holds the same open folder the check used.
    std::shared_ptr<platform::FileDescriptor> folder_;
    std::string openedPath_;
    uid_t requester_;
};

}  // namespace privilegedhelper
