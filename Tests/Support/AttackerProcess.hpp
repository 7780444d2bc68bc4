#pragma once
// An attack run by an ordinary user (uid and gid 65534) in a forked child while the test
// goes on: the body sets its attack up, says it is ready, keeps it going until the test
// asks it to stop (or its own time bound ends), and returns a text for the test.

#include "NobodyProcess.hpp"

#include <array>

namespace testsupport {

class AttackerProcess {
public:
    class Control {
    public:
        // Tells the test that the attack is in place.
        void ready();
        // Waits at most wait; whether the test has asked the attack to stop.
        bool stopRequested(std::chrono::milliseconds wait) { return readableWithin(stopFd_, wait); }

    private:
        friend class AttackerProcess;
        int readyFd_ = -1;
        int stopFd_ = -1;
    };
    using Body = std::function<std::string(Control& control)>;

    explicit AttackerProcess(const Body& body);
    ~AttackerProcess();  // kills a child still running
    AttackerProcess(const AttackerProcess&) = delete;
    AttackerProcess& operator=(const AttackerProcess&) = delete;

    // Whether the body said it was ready within the timeout.
    bool waitUntilReady(std::chrono::milliseconds timeout);
    // Asks the body to stop and returns its text; a child that has not ended within the
    // timeout is killed and "no result" returned.
    std::string stop(std::chrono::milliseconds timeout);

private:
    // Made before the child, which inherits them: [0] reads, [1] writes.
    std::array<int, 2> ready_;
    std::array<int, 2> stop_;
    NobodyProcess child_;
};

}  // namespace testsupport
