#include "UpdateCommands.hpp"

#include "CommandLine.hpp"
#include "ProgressBar.hpp"

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include <iostream>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace updatecommands {
namespace {

using namespace autoupdatekit;

nlohmann::json jsonFor(const AutoUpdateCheckResult& result) {
    if (const auto* upToDate = std::get_if<AutoUpdateCheckResult::UpToDate>(&result.value)) {
        return {{"status", "upToDate"},        {"currentVersion", upToDate->currentVersion},
                {"currentBuild", upToDate->currentBuild}, {"remoteVersion", upToDate->remoteVersion},
                {"remoteBuild", upToDate->remoteBuild}};
    }
    if (const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value)) {
        const auto& payload = ready->candidate.manifest.payload;
        return {{"status", "updateReady"},
                {"remoteVersion", payload.version},
                {"remoteBuild", payload.build},
                {"updateIdentifier", updateIdentifier(payload)},
                {"archivePath", ready->candidate.archiveURL.path()},
                {"stagedAppPath", ready->candidate.extractedAppURL.path()}};
    }
    return {{"status", "notConfigured"}};
}

// The client's log lines go to standard error, the result to standard output.
void logToStandardError(const std::string& line) { std::cerr << line << "\n"; }

void report(bool json, const std::string& status, const std::string& message) {
    if (json) std::cout << nlohmann::json{{"status", status}, {"message", message}}.dump(2) << "\n";
    else std::cout << message << "\n";
}

}  // namespace

const char* const checkUsage =
    "usage: autoupdatectl check [--json] <app-bundle>\n"
    "Reads the app's update configuration as the app would (its user defaults, then its\n"
    "Info.plist), fetches and verifies its manifest and, for a newer update, downloads,\n"
    "verifies and unpacks it into the app's staging directory. Nothing is installed.\n"
    "Prints the result (one JSON object with --json); the client's log lines go to\n"
    "standard error. Exit status: 0 up to date or suppressed, 3 update ready, 1 error,\n"
    "2 bad usage.\n";

// Checks the app's feed as the app would; the result, with the configuration used.
struct CheckOutcome {
    std::optional<AutoUpdateConfiguration> configuration;
    AutoUpdateCheckResult result;
};

CheckOutcome runCheck(const std::string& appPath) {
    auto bundle = platform::Bundle::open(platform::FileURL(appPath));
    // Any folder opens as a bundle; without an identifier it cannot be an app.
    if (!bundle || !bundle->bundleIdentifier()) {
        throw std::runtime_error(appPath + " is not an app bundle (no Contents/Info.plist with a CFBundleIdentifier)");
    }
    auto configuration = AutoUpdateConfiguration::fromBundleOrUserDefaults(std::make_shared<const platform::Bundle>(*bundle));
    if (!configuration) throw std::runtime_error("no manifest URL/public key configured for " + appPath);
    AutoUpdateManager manager(*configuration, platform::HTTPSession::shared());
    ProgressBar progress(::isatty(STDERR_FILENO) == 1);
    AutoUpdateCheckResult result = manager.checkForUpdate(progress.observer(), logToStandardError);
    progress.finish();
    std::cerr << "AutoUpdateKit: " << result.logDescription() << "\n";
    return {configuration, result};
}

int check(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {"--json"});
    if (parsed.positionals.size() != 1) throw commandline::UsageError("check takes one app bundle");
    bool json = parsed.has("--json");
    try {
        CheckOutcome outcome = runCheck(parsed.positionals[0]);
        bool ready = std::holds_alternative<AutoUpdateCheckResult::UpdateReady>(outcome.result.value);
        if (json) std::cout << jsonFor(outcome.result).dump(2) << "\n";
        else std::cout << outcome.result.logDescription() << "\n";
        return ready ? updateReadyStatus : upToDateStatus;
    } catch (const std::exception& error) {
        std::cerr << "AutoUpdateKit: " << error.what() << "\n";
        report(json, "error", error.what());
        return failureStatus;
    }
}

const char* const installUsage =
    "usage: autoupdatectl install [--privileged] <app-bundle>\n"
    "Checks as 'check' does and, for an update that is ready, hands it over exactly as\n"
    "the app would: to the deferred install script, or with --privileged to the\n"
    "privileged helper (installing the helper first when it is missing). Prints what\n"
    "was handed to whom and exits 0; otherwise the exit statuses of 'check'.\n";

int install(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {"--privileged"});
    if (parsed.positionals.size() != 1) throw commandline::UsageError("install takes one app bundle");
    try {
        CheckOutcome outcome = runCheck(parsed.positionals[0]);
        const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&outcome.result.value);
        if (ready == nullptr) {
            std::cout << outcome.result.logDescription() << "\n";
            return upToDateStatus;
        }
        const auto& configuration = *outcome.configuration;
        std::string update = updateIdentifier(ready->candidate.manifest.payload);
        if (parsed.has("--privileged")) {
            std::cout << "Handing update " << update << " to the privileged helper "
                      << configuration.privilegedHelperMachServiceName << "\n" << std::flush;
            AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(ready->candidate, configuration, std::nullopt, {},
                                                                      logToStandardError);
        }
        std::cout << "Handing update " << update << " to the deferred install script for "
                  << configuration.currentBundle->bundleURL().path() << "\n" << std::flush;
        AutoUpdateManager::installAndRelaunch(ready->candidate, configuration, {}, logToStandardError);
    } catch (const std::exception& error) {
        std::cerr << "AutoUpdateKit: " << error.what() << "\n";
        std::cout << error.what() << "\n";
        return failureStatus;
    }
}

}  // namespace updatecommands
