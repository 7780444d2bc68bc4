#pragma once
// The one object every client connection of the helper talks to. Requests are checked
// on the connection's own thread and answered at once; installs run one at a time on
// the installer's install queue, users in turn, whichever connection asked for them.
//
// The type spans several files by concern: requests and the log (this file's .cpp),
// validation, the install itself, and the system LaunchAgent.

#include "HelperLog.hpp"
#include "HelperPolicy.hpp"
#include "InstallQueue.hpp"
#include "StagedCopy.hpp"
#include "WriterFirstLock.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/Process.hpp"

#include <memory>
#include <optional>

namespace privilegedhelper {

class PrivilegedInstaller : public autoupdatekit::PrivilegedUpdateHelperProtocol {
public:
    // Touches no file.
    explicit PrivilegedInstaller(HelperPolicy policy);

    const HelperPolicy& policy() const noexcept { return policy_; }
    const platform::FileURL& logURL() const noexcept { return logURL_; }

    // Validates, logs and replies at once; a valid request's install is queued, once
    // its requester has ended when it names one, within the sending user's cap; an
    // identical request already queued is answered as scheduled. The relaunch runs as
    // the user and group of the connection that sent the request.
    void scheduleInstall(const autoupdatekit::PrivilegedUpdateRequest& request, Reply withReply) override;
    void installSystemLaunchAgent(Reply withReply) override;

    // Appends "<UTC time> <message>" as one line with one write. Control characters in
    // the message are escaped, so no text from a client or a tool can forge or split a
    // line; callers cut client fields with boundedLogField. Never fails and never
    // reports failure. The file is rotated at a fixed size (HelperLog).
    void log(const std::string& message) const;

    // What a valid request's install works from: the staged app as its requester
    // opened it, and what the check saw of it.
    struct CheckedStage {
        StagedBundle staged;
        StagedInventory inventory;
    };

    // Validation (PrivilegedInstallerValidation.cpp): throw HelperError, or a
    // platform error unchanged. A requesting process of 2 or more must be the
    // connection's own peer; the staged app is opened with the rights of that peer
    // (root's outside a connection); one older than the installed app is refused.
    std::shared_ptr<const CheckedStage> validateRequest(const autoupdatekit::PrivilegedUpdateRequest& request) const;
    void verifyApp(const std::string& path, const std::string& expectedBundleIdentifier,
                   const std::string& expectedTeamIdentifier) const;
    void verifySignature(const platform::FileURL& appURL) const;
    // Refuses, as a policy mismatch naming both, a staged app whose version and build
    // come before the installed app's in release order; nothing installed passes.
    void refuseDowngrade(const std::string& stagedPath) const;

    // The install (PrivilegedInstallerInstall.cpp): throws HelperError.installFailed.
    void install(const CheckedStage& stage) const;
    static std::string sanitizedInstallName(const platform::FileURL& url);
    // Copies into the open holding folder, as to; throws HelperError.installFailed.
    void copyApp(const CheckedStage& from, int holdingFolder, const platform::FileURL& to) const;
    void launchApp(const std::string& path, const std::optional<platform::ChildIdentity>& identity) const;
    // Removes what killed installs left beside the destination: holding folders and
    // copies under the temporary name, and backups once the installed app verifies.
    // Only root-owned folders of exactly those names, by descriptor, never a link.
    void removeLeftovers() const;

    // The system LaunchAgent (PrivilegedInstallerLaunchAgent.cpp).
    void installSystemLaunchAgent() const;

private:
    void runInstallJob(const autoupdatekit::PrivilegedUpdateRequest& request, const CheckedStage& stage,
                       const std::optional<platform::ChildIdentity>& requester) const;

    HelperPolicy policy_;
    platform::FileURL logURL_;
    mutable HelperLog log_{logURL_};
    InstallQueue installQueue_;
    // Checks of the installed app on connection threads read it as a whole tree, so an
    // install swaps it only while none is reading, and a waiting swap goes before any
    // check that comes after it.
    mutable WriterFirstLock installedAppLock_;
};

}  // namespace privilegedhelper
