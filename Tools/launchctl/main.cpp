// launchctl: asks the job supervisor about system jobs.
//
//   launchctl print system/<label>         exit 0 exactly when the job is loaded
//   launchctl bootstrap system <plist>     load a job (root only)
//
// print exits 113 for a job that is not loaded (or a supervisor that cannot be
// reached), bootstrap 5 when it fails; bad usage exits 2 with the usage.

#include "CommandLine.hpp"
#include "SupervisorProtocol.hpp"

#include "Platform/IPC/Service.hpp"

#include <iostream>
#include <string>

namespace {

constexpr const char* usage =
    "usage: launchctl print system/<label>\n"
    "       launchctl bootstrap system <plist>\n";

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

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2 && arguments[0] == "print" && arguments[1].rfind("system/", 0) == 0) {
        std::string label = arguments[1].substr(7);
        auto answer = ask(supervisorprotocol::printSelector, {{"label", label}});
        if (answer && flag(*answer, "loaded")) {
            std::cout << "system/" << label << " = {\n\tstate = loaded\n}\n";
            return 0;
        }
        std::cerr << "Could not find service \"" << label << "\" in domain for system\n";
        return notFoundStatus;
    }
    if (arguments.size() == 3 && arguments[0] == "bootstrap" && arguments[1] == "system") {
        auto answer = ask(supervisorprotocol::bootstrapSelector, {{"path", arguments[2]}});
        if (answer && flag(*answer, "ok")) return 0;
        const std::string* message = answer ? platform::PropertyList::stringValue(*answer, "message") : nullptr;
        std::cerr << "Bootstrap failed: " << (message ? *message : "the supervisor is not running") << "\n";
        return failureStatus;
    }
    throw commandline::UsageError("unknown subcommand or wrong arguments");
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("launchctl", {usage, run, failureStatus}, argc, argv); }
