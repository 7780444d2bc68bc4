#pragma once
// A real helper process for tests: started standalone (it binds its own socket) or
// socket-activated (the test binds and hands over descriptor 3), killed at the end. It
// leads a process group of its own.

#include <string>
#include <sys/types.h>

namespace testsupport {

inline constexpr const char* testHelperServiceName = "com.example.sample.PrivilegedUpdater";

class HelperProcess {
public:
    enum class Start { standalone, socketActivated };

    // Runs the helper executable built with the sample test policy.
    explicit HelperProcess(Start start = Start::standalone);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }
    // Whether the process is still running (reaps it when it has ended).
    bool running();

private:
    pid_t pid_ = -1;
};

}  // namespace testsupport
