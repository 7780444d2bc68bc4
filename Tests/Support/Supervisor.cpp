#include "Supervisor.hpp"

#include "WaitUntil.hpp"

#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
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
    waitUntil([] { return platform::runDiscardingOutput(platform::paths::launchctl, {"print", "system/none"}) == 113; }, std::chrono::seconds(10));
}

Supervisor::~Supervisor() {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace testsupport
