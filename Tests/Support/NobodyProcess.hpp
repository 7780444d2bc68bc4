#pragma once
// A piece of a test run in a forked child, as an ordinary user (uid and gid 65534) for
// the rules that root would pass anyway; the body's text comes back to the test. The
// requesting app and the attacker are built on it, so the fork, the drop, the pipe and
// the reaping are written once.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace testsupport {

inline constexpr unsigned nobodyIdentifier = 65534;

// Switches the calling (forked) process to uid and gid 65534; false when it cannot.
bool becomeNobody();

// Waits at most timeout for fd to become readable (or closed).
bool readableWithin(int fd, std::chrono::milliseconds timeout);

class NobodyProcess {
public:
    struct Options {
        bool asNobody = true;
        // The child stays after answering, as a process the test ends itself.
        bool keepRunning = false;
    };

    // The body's text, "threw: " and what it threw, or "could not become uid 65534".
    NobodyProcess(const std::function<std::string()>& body, Options options);
    ~NobodyProcess();  // kills a child still running
    NobodyProcess(const NobodyProcess&) = delete;
    NobodyProcess& operator=(const NobodyProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }
    // The child's text once it has sent all of it; nullopt when the timeout ends first.
    std::optional<std::string> result(std::chrono::milliseconds timeout);
    // Kills the child, as a process ended from outside, and reaps it.
    void end();

private:
    pid_t pid_ = -1;
    int resultFd_ = -1;
};

// Runs body as uid 65534 and waits for its text.
std::string runAsNobody(const std::function<std::string()>& body);

}  // namespace testsupport
