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
    "Prints the result (one JSON object with --json); the client's log line goes to\n"
    "standard error. Exit status: 0 up to date or suppressed, 3 update ready, 1 error,\n"
    "2 bad usage.\n";

int check(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {"--json"});
    if (parsed.positionals.size() != 1) throw commandline::UsageError("check takes one app bundle");
    bool json = parsed.has("--json");
    try {
        auto bundle = platform::Bundle::open(platform::FileURL(parsed.positionals[0]));
        if (!bundle) throw std::runtime_error(parsed.positionals[0] + " is not an app bundle");
        auto configuration = AutoUpdateConfiguration::fromBundleOrUserDefaults(std::make_shared<const platform::Bundle>(*bundle));
        if (!configuration) throw std::runtime_error("no manifest URL/public key configured for " + parsed.positionals[0]);
        AutoUpdateManager manager(*configuration, platform::HTTPSession::shared());
        ProgressBar progress(::isatty(STDERR_FILENO) == 1);
        AutoUpdateCheckResult result = manager.checkForUpdate(progress.observer());
        progress.finish();
        std::cerr << "AutoUpdateKit: " << result.logDescription() << "\n";
        bool ready = std::holds_alternative<AutoUpdateCheckResult::UpdateReady>(result.value);
        if (json) std::cout << jsonFor(result).dump(2) << "\n";
        else std::cout << result.logDescription() << "\n";
        return ready ? updateReadyStatus : upToDateStatus;
    } catch (const std::exception& error) {
        std::cerr << "AutoUpdateKit: " << error.what() << "\n";
        report(json, "error", error.what());
        return failureStatus;
    }
}

}  // namespace updatecommands
