#include "HelperProcess.hpp"

#include "FramedClient.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/Service.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

std::string servicePath() {
    return platform::ipc::socketPath(testHelperServiceName, platform::ipc::privilegedOption);
}

platform::FileDescriptor bindForActivation() {
    std::string path = servicePath();
    ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
    ::unlink(path.c_str());
    platform::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.get(), 16) != 0) {
        throw std::runtime_error("cannot bind " + path + ": " + std::strerror(errno));
    }
    return fd;
}

}  // namespace

HelperProcess::HelperProcess(Start start) {
    std::string executable = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/TestPrivilegedUpdateHelper";
    platform::FileDescriptor activation;
    if (start == Start::socketActivated) activation = bindForActivation();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the test process, even one that aborts
        ::setpgid(0, 0);                      // its tool runs share its group, to be killed with it
        if (activation.valid()) {
            ::dup2(activation.get(), 3);
            std::string pid = std::to_string(::getpid());
            ::setenv("LISTEN_PID", pid.c_str(), 1);
            ::setenv("LISTEN_FDS", "1", 1);
        }
        ::execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Ready once its socket takes connections (bounded: at most 10 s).
    waitUntil([this] { return connectToTestHelper().valid() || !running(); }, std::chrono::seconds(10), std::chrono::milliseconds(20));
}

HelperProcess::~HelperProcess() {
    if (pid_ > 0 && running()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool HelperProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

}  // namespace testsupport
