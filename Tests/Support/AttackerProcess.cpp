#include "AttackerProcess.hpp"

#include "AsUser.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// Waits at most timeout for fd to become readable (or closed).
bool readableWithin(int fd, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

void AttackerProcess::Control::ready() {
    char byte = 'r';
    [[maybe_unused]] auto written = ::write(readyFd_, &byte, 1);
}

bool AttackerProcess::Control::stopRequested(std::chrono::milliseconds wait) { return readableWithin(stopFd_, wait); }

AttackerProcess::AttackerProcess(Body body) {
    int ready[2], stop[2], result[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(stop, O_CLOEXEC) != 0 || ::pipe2(result, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(ready[0]);
        ::close(stop[1]);
        ::close(result[0]);
        std::string text;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyIdentifier) != 0 || ::setuid(nobodyIdentifier) != 0) {
            text = "could not become uid 65534";
        } else {
            Control control;
            control.readyFd_ = ready[1];
            control.stopFd_ = stop[0];
            try {
                text = body(control);
            } catch (const std::exception& error) {
                text = std::string("threw: ") + error.what();
            }
        }
        for (std::size_t done = 0; done < text.size();) {
            ssize_t count = ::write(result[1], text.data() + done, text.size() - done);
            if (count <= 0) break;
            done += static_cast<std::size_t>(count);
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(stop[0]);
    ::close(result[1]);
    readyFd_ = ready[0];
    stopFd_ = stop[1];
    resultFd_ = result[0];
}

AttackerProcess::~AttackerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    closeIfOpen(readyFd_);
    closeIfOpen(stopFd_);
    closeIfOpen(resultFd_);
}

bool AttackerProcess::waitUntilReady(std::chrono::milliseconds timeout) {
    if (!readableWithin(readyFd_, timeout)) return false;
    char byte = 0;
    return ::read(readyFd_, &byte, 1) == 1;
}

std::string AttackerProcess::stop(std::chrono::milliseconds timeout) {
    closeIfOpen(stopFd_);  // the body sees its stop pipe readable (at its end)
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readableWithin(resultFd_, left)) {
            text = "no result";
            break;
        }
        ssize_t count = ::read(resultFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
    }
    if (text == "no result") ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return text;
}

}  // namespace testsupport
