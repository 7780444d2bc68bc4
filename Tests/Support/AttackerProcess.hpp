#pragma once
// An attack run by an ordinary user (uid and gid 65534) in a forked child while the test
// goes on: the body sets its attack up, says it is ready, keeps it going until the test
// asks it to stop (or its own time bound ends), and returns a text for the test.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>

namespace testsupport {

class AttackerProcess {
public:
    class Control {
    public:
        // Tells the test that the attack is in place.
        void ready();
        // Waits at most wait; whether the test has asked the attack to stop.
        bool stopRequested(std::chrono::milliseconds wait);

    private:
        friend class AttackerProcess;
        int readyFd_ = -1;
        int stopFd_ = -1;
    };
    using Body = std::function<std::string(Control& control)>;

    explicit AttackerProcess(Body body);
    ~AttackerProcess();  // kills a child still running
    AttackerProcess(const AttackerProcess&) = delete;
    AttackerProcess& operator=(const AttackerProcess&) = delete;

    // Whether the body said it was ready within the timeout.
    bool waitUntilReady(std::chrono::milliseconds timeout);
    // Asks the body to stop and returns its text; a child that has not ended within the
    // timeout is killed and "no result" returned.
    std::string stop(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int readyFd_ = -1;
    int stopFd_ = -1;
    int resultFd_ = -1;
};

}  // namespace testsupport
