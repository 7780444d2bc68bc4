#include "PrivateSystem.hpp"

#include "PrivilegedUpdateInterface.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {
namespace {

constexpr const char* serviceName = "com.brackwell.Zorvane.PrivilegedUpdater";
const char* const fixedFolders[] = {"/run", "/Applications", "/Library", "/etc/autoupdatekit"};

// Mount points the machine lacked, made empty for the run and removed at its end.
std::vector<std::string>& madeMountPoints() {
    static std::vector<std::string> made;
    return made;
}

}  // namespace

bool rejectedScheduleInstall() {
    platform::ipc::Connection connection(serviceName, platform::ipc::privilegedOption);
    connection.resume();
    bool replied = false;
    autoupdatekit::PrivilegedUpdateHelperProxy proxy(connection, [](const std::string&) {});
    proxy.scheduleInstall(autoupdatekit::PrivilegedUpdateRequest("/Applications/Other.app", "/tmp/Other.app", "com.example.other",
                                                                 "TEAMX", "1.0-1", 0, false),
                          [&](const autoupdatekit::PrivilegedUpdateReply&) { replied = true; });
    connection.invalidate();
    return replied;
}


const std::string& enterPrivateSystem() {
    static const std::string error = []() -> std::string {
        for (const char* folder : fixedFolders) {
            struct stat status {};
            if (::stat(folder, &status) != 0) {
                if (::mkdir(folder, 0755) != 0) return std::string("cannot make ") + folder + ": " + std::strerror(errno);
                madeMountPoints().push_back(folder);
            }
        }
        std::atexit([] {
            for (const auto& folder : madeMountPoints()) {
                ::umount2(folder.c_str(), MNT_DETACH);
                ::rmdir(folder.c_str());
            }
        });
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("needs root for a private mount namespace: ") + std::strerror(errno);
        }
        for (const char* folder : fixedFolders) {
            if (::mount("tmpfs", folder, "tmpfs", 0, "mode=0755") != 0) return std::string("mount ") + folder + ": " + std::strerror(errno);
        }
        return "";
    }();
    return error;
}

const std::string& startDeployedHelper() {
    static const std::string error = []() -> std::string {
        if (!enterPrivateSystem().empty()) return enterPrivateSystem();
        std::string path = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/ZorvanePrivilegedUpdater";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the benchmark
            ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (rejectedScheduleInstall()) return "";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return "the helper did not start";
    }();
    return error;
}

}  // namespace bench
