#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

namespace autoupdatekit {

PrivilegedUpdateRequest::PrivilegedUpdateRequest(std::string currentAppPath, std::string stagedAppPath,
                                                 std::string expectedBundleIdentifier, std::string expectedTeamIdentifier,
                                                 std::string updateIdentifier, std::int32_t requestingProcessIdentifier,
                                                 bool launchAfterInstall)
    : currentAppPath_(std::move(currentAppPath)),
      stagedAppPath_(std::move(stagedAppPath)),
      expectedBundleIdentifier_(std::move(expectedBundleIdentifier)),
      expectedTeamIdentifier_(std::move(expectedTeamIdentifier)),
      updateIdentifier_(std::move(updateIdentifier)),
      requestingProcessIdentifier_(requestingProcessIdentifier),
      launchAfterInstall_(launchAfterInstall) {}

void PrivilegedUpdateRequest::encode(platform::ipc::KeyedArchiver& coder) const {
    coder.encodeString(currentAppPath_, "currentAppPath");
    coder.encodeString(stagedAppPath_, "stagedAppPath");
    coder.encodeString(expectedBundleIdentifier_, "expectedBundleIdentifier");
    coder.encodeString(expectedTeamIdentifier_, "expectedTeamIdentifier");
    coder.encodeString(updateIdentifier_, "updateIdentifier");
    coder.encodeInt32(requestingProcessIdentifier_, "requestingProcessIdentifier");
    coder.encodeBool(launchAfterInstall_, "launchAfterInstall");
}

std::optional<PrivilegedUpdateRequest> PrivilegedUpdateRequest::decode(const platform::ipc::KeyedUnarchiver& coder) {
    auto currentAppPath = coder.decodeString("currentAppPath");
    if (!currentAppPath) return std::nullopt;
    auto stagedAppPath = coder.decodeString("stagedAppPath");
    if (!stagedAppPath) return std::nullopt;
    auto expectedBundleIdentifier = coder.decodeString("expectedBundleIdentifier");
    if (!expectedBundleIdentifier) return std::nullopt;
    auto expectedTeamIdentifier = coder.decodeString("expectedTeamIdentifier");
    if (!expectedTeamIdentifier) return std::nullopt;
    auto updateIdentifier = coder.decodeString("updateIdentifier");
    if (!updateIdentifier) return std::nullopt;
    auto processIdentifier = coder.decodeInt32("requestingProcessIdentifier");
    auto launch = coder.decodeBool("launchAfterInstall");
    if (!processIdentifier || !launch) return std::nullopt;
    return PrivilegedUpdateRequest(*currentAppPath, *stagedAppPath, *expectedBundleIdentifier, *expectedTeamIdentifier,
                                   *updateIdentifier, *processIdentifier, *launch);
}

PrivilegedUpdateReply::PrivilegedUpdateReply(bool accepted, std::string message)
    : accepted_(accepted), message_(std::move(message)) {}

void PrivilegedUpdateReply::encode(platform::ipc::KeyedArchiver& coder) const {
    coder.encodeBool(accepted_, "accepted");
    coder.encodeString(message_, "message");
}

std::optional<PrivilegedUpdateReply> PrivilegedUpdateReply::decode(const platform::ipc::KeyedUnarchiver& coder) {
    auto message = coder.decodeString("message");
    if (!message) return std::nullopt;
    auto accepted = coder.decodeBool("accepted");
    if (!accepted) return std::nullopt;
    return PrivilegedUpdateReply(*accepted, *message);
}

}  // namespace autoupdatekit
