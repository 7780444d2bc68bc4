#pragma once
// Processes a test runs as children of its own, each ended with its object and with the
// test process, even one that aborts, so that nothing outlives a test: programs in a
// process group of their own (the job supervisor, polkit's daemons), a piece of the
// test run as an ordinary user, and what the kernel tells about a process.

#include "PrivateSystemPaths.hpp"
#include "Files.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

inline constexpr unsigned nobodyIdentifier = 65534;

// A program started by absolute path, leading a process group that the programs it
// starts share, to be killed with it. It runs as it would without systemd (no
// JOURNAL_STREAM).
class ChildProcess {
public:
    // Its standard error is appended to errorFile when one is named; a listening socket
    // is handed over as descriptor 3, as a service manager does. Given a number (free at
    // the time), it runs under that process number, as any process that happens to be
    // given a freed number; it throws when the number is taken.
    explicit ChildProcess(std::vector<std::string> arguments, const std::string& errorFile = "", int listeningSocket = -1,
                          pid_t number = 0);
    ~ChildProcess();  // kills the group
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }
    // Whether the process is still running (reaps it when it has ended).
    bool running();

private:
    pid_t pid_ = -1;
};

// The job supervisor (autoupdatekit-launchd), its standard error kept in a file.
class Supervisor {
public:
    Supervisor();  // returns once launchctl reaches it (at most 10 s)

    // What it wrote to standard error so far.
    std::string errorOutput() const;

private:
    TemporaryDirectory folder_;
    ChildProcess process_;
};

// The system's administrator prompt as a test meets it: a D-Bus system bus and a polkit
// daemon of the test's own, in its private mount namespace. /run/dbus is a fresh tmpfs,
// polkit's actions folder holds the machine's actions and the given policy file, and
// its rules folder only the given rules; the real pkexec then asks this polkit.
class PolkitBus {
public:
    // Throws when the daemons cannot be started or polkit does not answer within 10 s.
    PolkitBus(const std::string& policyFile, const std::string& rules);

private:
    TemporaryDirectory folder_;
    std::optional<BindMount> actions_;
    std::optional<BindMount> rules_;
    std::optional<TmpfsMount> busFolder_;
    std::optional<ChildProcess> bus_;
    std::optional<ChildProcess> polkit_;  // declared last: stopped first
};

// A piece of a test run in a forked child, as an ordinary user (uid and gid 65534) for
// the rules that root would pass anyway; the body's text comes back to the test. A
// requesting app that has not quit and an attacker holding connections open are the
// same child kept running.
class NobodyProcess {
public:
    struct Options {
        bool asNobody = true;
        // The child stays after answering, with all it holds open, as a process the
        // test ends itself.
        bool keepRunning = false;
    };

    // The body's text, "threw: " and what it threw, or "could not become uid 65534".
    NobodyProcess(const std::function<std::string()>& body, Options options);
    ~NobodyProcess();  // kills a child still running
    NobodyProcess(const NobodyProcess&) = delete;
    NobodyProcess& operator=(const NobodyProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }
    // The child's text once it has sent all of it, or "no result" when the timeout ends
    // first.
    std::string result(std::chrono::milliseconds timeout = std::chrono::minutes(1));
    // Kills the child, as a process ended from outside, and reaps it.
    void end();

private:
    pid_t pid_ = -1;
    int resultFd_ = -1;
};

// Runs body as uid 65534 and waits for its text.
std::string runAsNobody(const std::function<std::string()>& body);

// The number at the start of a field of /proc/<pid>/status ("VmRSS" and "VmHWM" are in
// KiB, "Threads" a count); -1 when the process or the field is missing.
long processStatusField(pid_t pid, const std::string& field);

// User and system CPU time the process has used, all its threads together.
std::chrono::milliseconds processCPUTime(pid_t pid);

// The lowest descriptor number the process has free.
int lowestFreeDescriptor(pid_t pid);

}  // namespace testsupport
