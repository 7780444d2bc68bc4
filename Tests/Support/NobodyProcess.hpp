#pragma once
// A piece of a test run in a forked child, as an ordinary user (uid and gid 65534) for
// the rules that root would pass anyway; the body's text comes back to the test. A
// requesting app that has not quit and an attacker holding connections open are the
// same child kept running, so the fork, the drop, the pipe and the reaping are written
// once.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace testsupport {

inline constexpr unsigned nobodyIdentifier = 65534;

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

}  // namespace testsupport
