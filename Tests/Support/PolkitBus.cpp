#include "PolkitBus.hpp"

#include "Files.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/Process.hpp"

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsupport {
namespace {

constexpr const char* actionsFolder = "/usr/share/polkit-1/actions";
constexpr const char* rulesFolder = "/etc/polkit-1/rules.d";

// A daemon that ends with the test process, even one that aborts.
pid_t startDaemon(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) throw std::runtime_error("cannot start " + arguments.front());
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool polkitAnswers() {
    auto answer = platform::runCapturingOutput("/usr/bin/dbus-send", {"--system", "--print-reply", "--dest=org.freedesktop.DBus",
                                                                      "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                                                      "string:org.freedesktop.PolicyKit1"});
    return answer.status == 0 && answer.bytes.find("boolean true") != std::string::npos;
}

}  // namespace

PolkitBus::PolkitBus(const std::string& policyFile, const std::string& rules) {
    std::string actions = folder_ / "actions";
    std::string ruleFolder = folder_ / "rules";
    platform::createDirectories(actions);
    platform::createDirectories(ruleFolder);
    for (const auto& name : platform::directoryEntries(actionsFolder)) {
        writeFile(actions + "/" + name, readFile(std::string(actionsFolder) + "/" + name));
    }
    writeFile(actions + "/" + platform::FileURL(policyFile).lastPathComponent(), readFile(policyFile));
    writeFile(ruleFolder + "/50-test.rules", rules);
    ::chmod(folder_.path().c_str(), 0755);  // polkitd reads its folders as its own user
    actions_ = std::make_unique<BindMount>(actions, actionsFolder);
    rules_ = std::make_unique<BindMount>(ruleFolder, rulesFolder);
    busFolder_ = std::make_unique<TmpfsMount>("/run/dbus", "mode=0755");
    if (!busFolder_->mounted()) throw std::runtime_error("cannot mount a tmpfs on /run/dbus");
    bus_ = startDaemon({"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile"});
    polkit_ = startDaemon({"/usr/lib/polkit-1/polkitd", "--no-debug"});
    if (!waitUntil(polkitAnswers, std::chrono::seconds(10))) throw std::runtime_error("polkitd does not answer on the test's bus");
}

PolkitBus::~PolkitBus() {
    stop(polkit_);
    stop(bus_);
}

}  // namespace testsupport
