#include "UpdateCommands.hpp"

#include "CommandLine.hpp"
#include "ProgressBar.hpp"

#include "Platform/Bundle.hpp"

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateScheduler.hpp"
#include "AutoUpdateKit/AutoUpdateStatus.hpp"

#include <csignal>
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
                {"archivePath", ready->candidate.archivePath},
                {"stagedAppPath", ready->candidate.extractedAppPath},
                {"reusedDownload", ready->candidate.reusedDownload}};
    }
    return {{"status", "notConfigured"}};
}

// While a check runs, Ctrl-C or SIGTERM cancels it instead of ending the tool at once, so
// its partial download is removed; the usual action comes back after the check, and the
// tool then exits as the signal would have made it (130 for Ctrl-C).
CheckCancellation interrupted;
volatile std::sig_atomic_t interruptingSignal = 0;

class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(const CheckCancellation& cancellation) {
        interrupted = cancellation;
        struct sigaction action {};
        action.sa_handler = [](int signal) {
            interruptingSignal = signal;
            interrupted.cancel();
        };
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &savedInterrupt_);
        ::sigaction(SIGTERM, &action, &savedTerminate_);
    }
    ~CancelOnInterrupt() {
        ::sigaction(SIGINT, &savedInterrupt_, nullptr);
        ::sigaction(SIGTERM, &savedTerminate_, nullptr);
    }
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

private:
    struct sigaction savedInterrupt_ {};
    struct sigaction savedTerminate_ {};
};

// Runs a command; one whose check a signal cancelled says so and exits 128 + the signal.
// Any other failure is reported by the command line, on standard error alone.
template <typename Command>
int exitingOnInterrupt(const std::string& command, Command run) {
    try {
        return run();
    } catch (const AutoUpdateError& error) {
        // The command line prints what() alone; the underlying text belongs there too.
        if (error.errorCase() != AutoUpdateError::Case::cancelled || interruptingSignal == 0) {
            throw std::runtime_error(error.logDescription());
        }
        std::cerr << "autoupdatectl " << command << ": " << error.what() << "\n";
        return 128 + interruptingSignal;
    }
}

// The client's log lines go to standard error, the result to standard output.
void logToStandardError(const std::string& line) { std::cerr << line << "\n"; }

}  // namespace

const char* const checkUsage =
    "usage: autoupdatectl check [--json] [--scheduled] <app-bundle>\n"
    "Reads the app's update configuration as the app would (its user defaults, then its\n"
    "Info.plist), fetches and verifies its manifest and, for a newer update, downloads,\n"
    "verifies and unpacks it into the app's staging directory. Nothing is installed.\n"
    "Prints the result (one JSON object with --json); the client's log lines go to\n"
    "standard error, as do errors. On a terminal, without --json, a progress bar shows\n"
    "the download on standard error. Exit status: 0 up to date or suppressed, 3 update\n"
    "ready, 1 error, 2 bad usage, 130 when Ctrl-C cancelled the check (its partial\n"
    "download removed).\n"
    "With --scheduled it checks as the app's scheduler would: a release the user skipped\n"
    "or one not yet rolled out to this machine is passed over, the check is skipped\n"
    "while another check of the app runs, and its time is kept.\n";

// Checks the app's feed as the app would; the result, with the configuration used.
AutoUpdateConfiguration configurationOf(const std::string& appPath) {
    auto bundle = platform::Bundle::open(platform::FileURL(appPath));
    // Any folder opens as a bundle; without an identifier it cannot be an app.
    if (!bundle || !bundle->bundleIdentifier()) {
        throw std::runtime_error(appPath + " is not an app bundle (no Contents/Info.plist with a CFBundleIdentifier)");
    }
    auto configuration = AutoUpdateConfiguration::fromAppOrUserDefaults(appPath);
    if (!configuration) throw std::runtime_error("no manifest URL/public key configured for " + appPath);
    return *configuration;
}

// Nothing in the result when a scheduled check was skipped for another one in flight.
struct CheckOutcome {
    AutoUpdateConfiguration configuration;
    std::optional<AutoUpdateCheckResult> result;
};

CheckOutcome runCheck(const std::string& appPath, bool scheduled = false, bool json = false) {
    AutoUpdateConfiguration configuration = configurationOf(appPath);
    ProgressBar progress(!json && ::isatty(STDERR_FILENO) == 1);
    AutoUpdateCheckOptions options{progress.observer(), logToStandardError};
    CancelOnInterrupt cancelOnInterrupt(options.cancellation);
    std::optional<AutoUpdateCheckResult> result;
    if (scheduled) result = AutoUpdateScheduler::runScheduledCheck(configuration, options);
    else result = AutoUpdateManager(configuration).checkForUpdate(options);
    progress.finish();
    if (result) std::cerr << "AutoUpdateKit: " << result->logDescription() << "\n";
    return {configuration, result};
}

int check(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {"--json", "--scheduled"});
    if (parsed.positionals.size() != 1) throw commandline::UsageError("check takes one app bundle");
    bool json = parsed.has("--json");
    return exitingOnInterrupt("check", [&] {
        CheckOutcome outcome = runCheck(parsed.positionals[0], parsed.has("--scheduled"), json);
        if (!outcome.result) {
            const char* message = "skipped: another update check of this app is running";
            if (json) std::cout << nlohmann::json{{"status", "skipped"}, {"message", message}}.dump(2) << "\n";
            else std::cout << message << "\n";
            return upToDateStatus;
        }
        bool ready = std::holds_alternative<AutoUpdateCheckResult::UpdateReady>(outcome.result->value);
        if (json) std::cout << jsonFor(*outcome.result).dump(2) << "\n";
        else std::cout << outcome.result->logDescription() << "\n";
        return ready ? updateReadyStatus : upToDateStatus;
    });
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
    return exitingOnInterrupt("install", [&] {
        CheckOutcome outcome = runCheck(parsed.positionals[0]);
        const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&outcome.result->value);
        if (ready == nullptr) {
            std::cout << outcome.result->logDescription() << "\n";
            return upToDateStatus;
        }
        const auto& configuration = outcome.configuration;
        std::string update = updateIdentifier(ready->candidate.manifest.payload);
        if (parsed.has("--privileged")) {
            std::cout << "Handing update " << update << " to the privileged helper "
                      << configuration.privilegedHelperMachServiceName << "\n" << std::flush;
            AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(ready->candidate, configuration,
                                                                      {.log = logToStandardError});
        } else {
            std::cout << "Handing update " << update << " to the deferred install script for " << configuration.appPath << "\n"
                      << std::flush;
            AutoUpdateManager::installAndRelaunch(ready->candidate, configuration, {.log = logToStandardError});
        }
        return 0;
    });
}

const char* const statusUsage =
    "usage: autoupdatectl status <app-bundle>\n"
    "Prints what the update client keeps about the app: the time of the last scheduled\n"
    "check, the release the user skipped, the machine's rollout group, the update\n"
    "suppressed after a failed install, and what is staged. Changes nothing.\n";

int status(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {});
    if (parsed.positionals.size() != 1) throw commandline::UsageError("status takes one app bundle");
    AutoUpdateStatus status = AutoUpdateStatus::of(configurationOf(parsed.positionals[0]));
    std::cout << "last check:        " << status.lastCheckTime.value_or("never") << "\n"
              << "skipped version:   " << status.skippedVersion.value_or("none") << "\n"
              << "rollout group:     " << status.rolloutGroup.value_or("not drawn yet") << "\n"
              << "suppressed update: " << status.suppressedUpdate.value_or("none") << "\n"
              << "staged:            " << (status.staged.empty() ? "nothing" : status.staged.front()) << "\n";
    for (std::size_t n = 1; n < status.staged.size(); ++n) std::cout << "                   " << status.staged[n] << "\n";
    if (status.stagedFromDelta) std::cout << "from a delta:      " << *status.stagedFromDelta << "\n";
    return upToDateStatus;
}

}  // namespace updatecommands
