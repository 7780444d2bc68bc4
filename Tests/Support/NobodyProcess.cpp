#include "NobodyProcess.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

bool becomeNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobodyIdentifier) == 0 && ::setuid(nobodyIdentifier) == 0;
}

}  // namespace

NobodyProcess::NobodyProcess(const std::function<std::string()>& body, Options options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(fds[0]);
        std::string text = "could not become uid 65534";
        if (!options.asNobody || becomeNobody()) {
            // Set after the drop, which clears it: a child the test leaves behind goes with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            try {
                text = body();
            } catch (const std::exception& error) {
                text = std::string("threw: ") + error.what();
            }
        }
        for (std::size_t done = 0; done < text.size();) {
            ssize_t count = ::write(fds[1], text.data() + done, text.size() - done);
            if (count <= 0) break;
            done += static_cast<std::size_t>(count);
        }
        ::close(fds[1]);
        while (options.keepRunning) ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    resultFd_ = fds[0];
}

NobodyProcess::~NobodyProcess() {
    end();
    if (resultFd_ >= 0) ::close(resultFd_);
}

std::string NobodyProcess::result(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry{resultFd_, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready == 0) return "no result";
        ssize_t count = ready < 0 ? -1 : ::read(resultFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return text;
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

void NobodyProcess::end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string runAsNobody(const std::function<std::string()>& body) {
    // Bounded well above any body's own limits, so a stuck body fails its test, not the run.
    return NobodyProcess(body, {}).result(std::chrono::minutes(5));
}

}  // namespace testsupport
