#include "Supervisor.hpp"

#include "Files.hpp"
#include "WaitUntil.hpp"

#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

Supervisor::Supervisor() {
    std::string path = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatekit-launchd";
    std::string errors = folder_ / "stderr";
    pid_ = ::fork();
    if (pid_ == 0) {
        // Ends with the test process, even one that aborts, so no job outlives the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
        int output = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (output < 0 || ::dup2(output, STDERR_FILENO) < 0) ::_exit(127);
        ::unsetenv("JOURNAL_STREAM");
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    // Ready once launchctl can reach it (bounded: at most 10 s).
    waitUntil([] { return platform::runDiscardingOutput(platform::paths::launchctl(), {"print", "system/none"}) == 113; }, std::chrono::seconds(10));
}

std::string Supervisor::errorOutput() const { return readFileIfAny(folder_ / "stderr"); }

Supervisor::~Supervisor() {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace testsupport
