#include "Supervisor.hpp"

#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

Supervisor::Supervisor() {
    std::string path = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatekit-launchd";
    pid_ = ::fork();
    if (pid_ == 0) {
        // Ends with the test process, even one that aborts, so no job outlives the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    // Ready once launchctl can reach it (bounded: at most 10 s).
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (platform::runDiscardingOutput(platform::paths::launchctl, {"print", "system/none"}) == 113) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Supervisor::~Supervisor() {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace testsupport
