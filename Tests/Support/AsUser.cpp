#include "AsUser.hpp"

#include <grp.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

bool becomeNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobodyIdentifier) == 0 && ::setuid(nobodyIdentifier) == 0;
}

std::string runAsNobody(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        std::string result;
        if (!becomeNobody()) {
            result = "could not become uid 65534";
        } else {
            try {
                result = body();
            } catch (const std::exception& error) {
                result = std::string("threw: ") + error.what();
            }
        }
        [[maybe_unused]] auto written = ::write(fds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<std::size_t>(count));
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
}

}  // namespace testsupport
