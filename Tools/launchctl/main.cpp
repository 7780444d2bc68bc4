// launchctl: asks the job supervisor about system jobs.
//
//   launchctl print system/<label>         exit 0 exactly when the job is loaded (where
//                                          systemd runs: its socket unit is enabled)
//   launchctl bootstrap system <plist>     load a job (root only)
//   launchctl bootout system/<label>       stop serving a loaded job (root only)
//
// print exits 113 for a job that is not loaded (or a supervisor that cannot be
// reached), bootstrap and bootout 5 when they fail; bad usage exits 2 with the usage.

#include "CommandLine.hpp"
#include "SupervisorProtocol.hpp"

#include "Platform/IPC/Service.hpp"
#include "Platform/Process.hpp"
#include "Platform/ServiceManagement.hpp"

#include <iostream>
#include <string>

namespace {

namespace servicemanagement = platform::servicemanagement;

constexpr const char* usage =
    "usage: launchctl print system/<label>\n"
    "       launchctl bootstrap system <plist>\n"
    "       launchctl bootout system/<label>\n";

constexpr int notFoundStatus = 113;
constexpr int failureStatus = 5;

// One request to the supervisor; nothing when it cannot be reached.
std::optional<platform::PropertyDictionary> ask(const std::string& selector, const platform::PropertyDictionary& argument) {
    platform::ipc::Connection connection(supervisorprotocol::serviceName, platform::ipc::privilegedOption);
    connection.resume();
    std::optional<platform::PropertyDictionary> answer;
    connection.send(
        selector, argument,
        [&](const platform::PropertyValue& reply) {
            if (const auto* dictionary = reply.getIf<platform::PropertyDictionary>()) answer = *dictionary;
        },
        [](const std::string& description) { std::cerr << "launchctl: " << description << "\n"; });
    connection.invalidate();
    return answer;
}

bool flag(const platform::PropertyDictionary& answer, const std::string& key) {
    auto found = answer.find(key);
    const bool* value = found == answer.end() ? nullptr : found->second.getIf<bool>();
    return value != nullptr && *value;
}

bool isLoaded(const std::string& label) {
    auto answer = ask(supervisorprotocol::printSelector, {{"label", label}});
    return answer && flag(*answer, "loaded");
}

// Where systemd runs, a helper's job is loaded when its socket unit is enabled.
bool isServedBySystemd(const std::string& label) {
    return platform::runDiscardingOutput(servicemanagement::systemctlPath, {"is-enabled", "--quiet", servicemanagement::socketUnit(label)}) == 0;
}

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2 && arguments[0] == "print" && arguments[1].rfind("system/", 0) == 0) {
        std::string label = arguments[1].substr(7);
        if (servicemanagement::systemdRuns() ? isServedBySystemd(label) : isLoaded(label)) {
            std::cout << "system/" << label << " = {\n\tstate = loaded\n}\n";
            return 0;
        }
        std::cerr << "Could not find service \"" << label << "\" in domain for system\n";
        return notFoundStatus;
    }
    bool bootstrap = arguments.size() == 3 && arguments[0] == "bootstrap" && arguments[1] == "system";
    bool bootout = arguments.size() == 2 && arguments[0] == "bootout" && arguments[1].rfind("system/", 0) == 0;
    if (bootstrap || bootout) {
        auto answer = bootstrap ? ask(supervisorprotocol::bootstrapSelector, {{"path", arguments[2]}})
                                : ask(supervisorprotocol::bootoutSelector, {{"label", arguments[1].substr(7)}});
        if (answer && flag(*answer, "ok")) return 0;
        const std::string* message = answer ? platform::PropertyList::stringValue(*answer, "message") : nullptr;
        std::cerr << (bootstrap ? "Bootstrap" : "Bootout") << " failed: " << (message ? *message : "the supervisor is not running") << "\n";
        return failureStatus;
    }
    throw commandline::UsageError("unknown subcommand or wrong arguments");
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("launchctl", {usage, run, failureStatus}, argc, argv); }
