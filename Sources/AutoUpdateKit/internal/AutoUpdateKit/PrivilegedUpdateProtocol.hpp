#pragma once
// The interface between the update client and the privileged helper: its two
// operations, the request and reply records with their archive keys, and the key names
// and service names both sides share.

#include "AutoUpdateKit/Export.hpp"
#include "Platform/IPC/KeyedArchive.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT PrivilegedUpdateRequest {
public:
    static constexpr const char* className = "AUKPrivilegedUpdateRequest";
    static constexpr bool supportsSecureCoding = true;

    PrivilegedUpdateRequest(std::string currentAppPath, std::string stagedAppPath, std::string expectedBundleIdentifier,
                            std::string expectedTeamIdentifier, std::string updateIdentifier,
                            std::int32_t requestingProcessIdentifier, bool launchAfterInstall);

    const std::string& currentAppPath() const noexcept { return currentAppPath_; }
    const std::string& stagedAppPath() const noexcept { return stagedAppPath_; }
    const std::string& expectedBundleIdentifier() const noexcept { return expectedBundleIdentifier_; }
    const std::string& expectedTeamIdentifier() const noexcept { return expectedTeamIdentifier_; }
    const std::string& updateIdentifier() const noexcept { return updateIdentifier_; }
    std::int32_t requestingProcessIdentifier() const noexcept { return requestingProcessIdentifier_; }
    bool launchAfterInstall() const noexcept { return launchAfterInstall_; }

    // The five strings in field order, then the process identifier, then the flag.
    void encode(platform::ipc::KeyedArchiver& coder) const;
    // Nothing when any of the five strings is absent or not a string (read in field
    // order); an absent process identifier is 0 and an absent flag false.
    static std::optional<PrivilegedUpdateRequest> decode(const platform::ipc::KeyedUnarchiver& coder);

    bool operator==(const PrivilegedUpdateRequest&) const = default;

private:
    std::string currentAppPath_;
    std::string stagedAppPath_;
    std::string expectedBundleIdentifier_;
    std::string expectedTeamIdentifier_;
    std::string updateIdentifier_;
    std::int32_t requestingProcessIdentifier_;
    bool launchAfterInstall_;
};

class AUTOUPDATEKIT_EXPORT PrivilegedUpdateReply {
public:
    static constexpr const char* className = "AUKPrivilegedUpdateReply";
    static constexpr bool supportsSecureCoding = true;

    PrivilegedUpdateReply(bool accepted, std::string message);

    bool accepted() const noexcept { return accepted_; }
    const std::string& message() const noexcept { return message_; }

    // "accepted" first, then "message".
    void encode(platform::ipc::KeyedArchiver& coder) const;
    // Reads "message" first (nothing when absent or not a string), then "accepted"
    // (absent is false).
    static std::optional<PrivilegedUpdateReply> decode(const platform::ipc::KeyedUnarchiver& coder);

    bool operator==(const PrivilegedUpdateReply&) const = default;

private:
    bool accepted_;
    std::string message_;
};

// The helper's interface. Each operation answers through its reply callback, exactly once.
class AUTOUPDATEKIT_EXPORT PrivilegedUpdateHelperProtocol {
public:
    static constexpr const char* name = "AUKPrivilegedUpdateHelperProtocol";
    static constexpr const char* scheduleInstallSelector = "scheduleInstall:withReply:";
    static constexpr const char* installSystemLaunchAgentSelector = "installSystemLaunchAgentWithReply:";

    using Reply = std::function<void(const PrivilegedUpdateReply&)>;

    virtual ~PrivilegedUpdateHelperProtocol() = default;
    virtual void scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) = 0;
    virtual void installSystemLaunchAgent(Reply withReply) = 0;
};

namespace PrivilegedUpdateDefaults {

inline constexpr const char* machServiceNameKey = "AutoUpdateMachServiceName";
inline constexpr const char* allowedBundleIdentifierKey = "AutoUpdateAllowedBundleIdentifier";
inline constexpr const char* allowedTeamIdentifierKey = "AutoUpdateAllowedTeamIdentifier";
inline constexpr const char* allowedDestinationPathKey = "AutoUpdateAllowedDestinationPath";
inline constexpr const char* logFilePathKey = "AutoUpdateLogFilePath";
inline constexpr const char* launchAgentLabelKey = "AutoUpdateLaunchAgentLabel";
// Written by `autoupdate-helper make`, not by the app maker: the absolute folder of the
// platform tools of the install that made the helper, the only tools it runs.
inline constexpr const char* toolDirectoryKey = "AutoUpdateToolDirectory";

// A helper's service name by convention: the app's identifier followed by this.
inline constexpr const char* machServiceNameSuffix = ".PrivilegedUpdater";

}  // namespace PrivilegedUpdateDefaults
}  // namespace autoupdatekit
