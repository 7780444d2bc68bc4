#include "ChildProcess.hpp"

#include "Files.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/sched.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// A fork whose child takes the given process number (clone3 with set_tid).
pid_t forkUnderNumber(pid_t number) {
    clone_args arguments{};
    arguments.exit_signal = SIGCHLD;
    arguments.set_tid = reinterpret_cast<std::uintptr_t>(&number);
    arguments.set_tid_size = 1;
    return static_cast<pid_t>(::syscall(SYS_clone3, &arguments, sizeof arguments));
}

void killAndReap(pid_t pid, pid_t target) {
    if (pid <= 0) return;
    ::kill(target, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool polkitAnswers() {
    auto answer = platform::runCapturingOutput("/usr/bin/dbus-send", {"--system", "--print-reply", "--dest=org.freedesktop.DBus",
                                                                      "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                                                      "string:org.freedesktop.PolicyKit1"});
    return answer.status == 0 && answer.bytes.find("boolean true") != std::string::npos;
}

bool becomeNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobodyIdentifier) == 0 && ::setuid(nobodyIdentifier) == 0;
}

std::string readProc(pid_t pid, const std::string& name) { return readFileIfAny("/proc/" + std::to_string(pid) + "/" + name); }

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments, const std::string& errorFile, int listeningSocket, pid_t number) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = number > 0 ? forkUnderNumber(number) : ::fork();
    if (pid_ < 0) throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(errno));
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
        if (!errorFile.empty()) {
            int output = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (output < 0 || ::dup2(output, STDERR_FILENO) < 0) ::_exit(127);
        }
        if (listeningSocket >= 0) {
            ::dup2(listeningSocket, 3);
            ::fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
            ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            ::setenv("LISTEN_FDS", "1", 1);
        }
        ::unsetenv("JOURNAL_STREAM");
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // Set on both sides, so that the group exists before either goes on.
    ::setpgid(pid_, pid_);
}

ChildProcess::~ChildProcess() { killAndReap(pid_, -pid_); }

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

Supervisor::Supervisor() : process_({std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatekit-launchd"}, folder_ / "stderr") {
    waitUntil([] { return platform::runDiscardingOutput(platform::paths::launchctl(), {"print", "system/none"}) == 113; }, std::chrono::seconds(10));
}

std::string Supervisor::errorOutput() const { return readFileIfAny(folder_ / "stderr"); }

PolkitBus::PolkitBus(const std::string& policyFile, const std::string& rules) {
    const std::string actionsFolder = "/usr/share/polkit-1/actions";
    std::string actions = folder_ / "actions";
    std::string ruleFolder = folder_ / "rules";
    platform::createDirectories(actions);
    platform::createDirectories(ruleFolder);
    for (const auto& name : platform::directoryEntries(actionsFolder)) writeFile(actions + "/" + name, readFile(actionsFolder + "/" + name));
    writeFile(actions + "/" + platform::FileURL(policyFile).lastPathComponent(), readFile(policyFile));
    writeFile(ruleFolder + "/50-test.rules", rules);
    ::chmod(folder_.path().c_str(), 0755);  // polkitd reads its folders as its own user
    actions_.emplace(actions, actionsFolder);
    rules_.emplace(ruleFolder, "/etc/polkit-1/rules.d");
    busFolder_.emplace("/run/dbus", "mode=0755");
    if (!busFolder_->mounted()) throw std::runtime_error("cannot mount a tmpfs on /run/dbus");
    bus_.emplace(std::vector<std::string>{"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile"});
    polkit_.emplace(std::vector<std::string>{"/usr/lib/polkit-1/polkitd", "--no-debug"});
    if (!waitUntil(polkitAnswers, std::chrono::seconds(10))) throw std::runtime_error("polkitd does not answer on the test's bus");
}

NobodyProcess::NobodyProcess(const std::function<std::string()>& body, Options options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(fds[0]);
        std::string text = "could not become uid 65534";
        if (!options.asNobody || becomeNobody()) {
            // Set after the drop, which clears it: a child the test leaves behind goes with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            try {
                text = body();
            } catch (const std::exception& error) {
                text = std::string("threw: ") + error.what();
            }
        }
        for (std::size_t done = 0; done < text.size();) {
            ssize_t count = ::write(fds[1], text.data() + done, text.size() - done);
            if (count <= 0) break;
            done += static_cast<std::size_t>(count);
        }
        ::close(fds[1]);
        while (options.keepRunning) ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    resultFd_ = fds[0];
}

NobodyProcess::~NobodyProcess() {
    end();
    if (resultFd_ >= 0) ::close(resultFd_);
}

std::string NobodyProcess::result(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry{resultFd_, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready == 0) return "no result";
        ssize_t count = ready < 0 ? -1 : ::read(resultFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return text;
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

void NobodyProcess::end() {
    killAndReap(pid_, pid_);
    pid_ = -1;
}

std::string runAsNobody(const std::function<std::string()>& body) {
    // Bounded well above any body's own limits, so a stuck body fails its test, not the run.
    return NobodyProcess(body, {}).result(std::chrono::minutes(5));
}

long processStatusField(pid_t pid, const std::string& field) {
    std::string status = readProc(pid, "status");
    std::size_t at = status.find("\n" + field + ":");
    if (at == std::string::npos) return -1;
    return std::strtol(status.c_str() + at + field.size() + 2, nullptr, 10);
}

std::chrono::milliseconds processCPUTime(pid_t pid) {
    // The command may hold spaces and parentheses: the fields follow its last ")",
    // from field 3 (state) on; utime and stime are fields 14 and 15.
    std::string stat = readProc(pid, "stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;
    long user = 0, system = 0;
    fields >> user >> system;
    return std::chrono::milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
}

int lowestFreeDescriptor(pid_t pid) {
    std::set<int> open;
    for (const auto& name : platform::directoryEntries("/proc/" + std::to_string(pid) + "/fd")) open.insert(std::atoi(name.c_str()));
    int free = 0;
    while (open.count(free) != 0) ++free;
    return free;
}

}  // namespace testsupport
