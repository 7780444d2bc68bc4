#pragma once
// One update check from end to end: fetch and verify the signed manifest, compare
// versions, honour a suppressed update, check the minimum system version, then
// download, hash, unpack and validate the archive into the staging directory.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include "Platform/HTTPSession.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT AutoUpdateManager {
public:
    // Receives one line of text; callable from any thread.
    using Log = std::function<void(const std::string& line)>;

    AutoUpdateManager(AutoUpdateConfiguration configuration, std::shared_ptr<const platform::HTTPSession> session);

    // Runs the check; failures are AutoUpdateError cases or platform errors passed
    // through unchanged. The observer, when given, sees the archive download's progress;
    // the log, when given, hears of a defaults file that could not be read (and was
    // taken as holding no suppressed update).
    AutoUpdateCheckResult checkForUpdate(const platform::ProgressObserver& downloadObserver = {}, const Log& log = {}) const;

    // Configures from the main bundle, checks, and logs exactly one line. Never fails.
    static void checkFromMainBundleIfConfigured(const Log& log);

    // Called once per install, after planning; a positive number of seconds is a grace
    // period (at most 3 s) before the hand-over.
    using BeforeRelaunch = std::function<std::optional<double>()>;

    // Plans, starts the deferred install script and ends the process with status 0.
    // Returns only by throwing (planning or launch errors); nothing has changed then.
    [[noreturn]] static void installAndRelaunch(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                                const BeforeRelaunch& beforeRelaunch, const Log& log);

    // Plans, installs the helper if it is missing, hands the request to it and ends the
    // process with status 0. Returns only by throwing.
    [[noreturn]] static void installWithPrivilegedHelperAndRelaunch(const AutoUpdateCandidate& candidate,
                                                                    const AutoUpdateConfiguration& configuration,
                                                                    const std::optional<std::string>& machServiceName,
                                                                    const BeforeRelaunch& beforeRelaunch, const Log& log);

    // Configures, checks and, for a ready update, installs through the deferred script.
    // Returns when there is nothing to install or a step failed (logged, not thrown).
    static void checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log);

    const AutoUpdateConfiguration& configuration() const noexcept { return configuration_; }

private:
    // The main bundle's configuration; nothing (after logging why) when there is none.
    static std::optional<AutoUpdateConfiguration> mainBundleConfiguration(const Log& log);

    SignedUpdateManifest loadManifest() const;
    platform::FileURL downloadArchive(const SignedUpdateManifest& manifest, const platform::ProgressObserver& observer) const;
    void resetStagingDirectory() const;
    platform::FileURL extractArchive(const platform::FileURL& archive, const std::string& expectedAppName) const;
    void validateExtractedApp(const platform::FileURL& app, const SignedUpdateManifest& manifest) const;

    AutoUpdateConfiguration configuration_;
    std::shared_ptr<const platform::HTTPSession> session_;
};

}  // namespace autoupdatekit
