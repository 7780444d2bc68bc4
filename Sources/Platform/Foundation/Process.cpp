#include "Platform/Process.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// After the child exits, a grandchild it left behind may still hold the output pipe;
// the capture waits at most this long for the end of the pipe.
constexpr auto endOfPipeGrace = std::chrono::seconds(2);

// argv built before fork, since the child may only make async-signal-safe calls.
class ArgumentVector {
public:
    ArgumentVector(const std::string& executablePath, const std::vector<std::string>& arguments) {
        pointers_.push_back(const_cast<char*>(executablePath.c_str()));
        for (const auto& argument : arguments) pointers_.push_back(const_cast<char*>(argument.c_str()));
        pointers_.push_back(nullptr);
    }
    char* const* get() const { return pointers_.data(); }

private:
    std::vector<char*> pointers_;
};

struct ChildStreams {
    int output = -1;  // -1 keeps the parent's standard output and error
    bool newSession = false;
    std::optional<ChildIdentity> identity = std::nullopt;
};

FileDescriptor openDevNull() {
    FileDescriptor fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!fd.valid()) throwSystemError("open /dev/null");
    return fd;
}

std::pair<FileDescriptor, FileDescriptor> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwSystemError("pipe");
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void execInChild(const char* path, char* const* argv, int devNull, const ChildStreams& streams,
                              int errorPipe) {
    if (streams.newSession) ::setsid();
    // Group first, while still privileged to change it; then the user.
    bool switched = !streams.identity ||
                    (::setgroups(0, nullptr) == 0 && ::setgid(streams.identity->group) == 0 &&
                     ::setuid(streams.identity->user) == 0);
    bool redirected = switched && ::dup2(devNull, STDIN_FILENO) >= 0 &&
                      (streams.output < 0 || (::dup2(streams.output, STDOUT_FILENO) >= 0 &&
                                              ::dup2(streams.output, STDERR_FILENO) >= 0));
    if (redirected) {
        // Everything above the standard three closes at exec, the error pipe included.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(path, argv, environ);
    }
    int error = errno;
    [[maybe_unused]] auto written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

// Reads the errno a failed exec sent back; 0 when the exec succeeded (pipe closed empty).
int readExecError(int errorPipe) {
    int error = 0;
    ssize_t count;
    do {
        count = ::read(errorPipe, &error, sizeof error);
    } while (count < 0 && errno == EINTR);
    return count == static_cast<ssize_t>(sizeof error) ? error : 0;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throwSystemError("waitpid");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

// Forks a child that execs the tool; throws LaunchError when the exec fails.
pid_t spawn(const std::string& executablePath, const std::vector<std::string>& arguments,
            const ChildStreams& streams) {
    ArgumentVector argv(executablePath, arguments);
    auto devNull = openDevNull();
    auto [errorRead, errorWrite] = makePipe();
    pid_t pid = ::fork();
    if (pid < 0) throw LaunchError(executablePath, errno);
    if (pid == 0) execInChild(executablePath.c_str(), argv.get(), devNull.get(), streams, errorWrite.get());
    errorWrite.reset();
    if (int error = readExecError(errorRead.get()); error != 0) {
        waitForExit(pid);
        throw LaunchError(executablePath, error);
    }
    return pid;
}

// Forks an intermediate child that starts the tool and exits at once, so the tool is
// adopted by init (or the nearest subreaper) and never becomes our zombie.
void spawnOrphan(const std::string& executablePath, const std::vector<std::string>& arguments,
                 const ChildStreams& streams) {
    ArgumentVector argv(executablePath, arguments);
    auto devNull = openDevNull();
    auto [errorRead, errorWrite] = makePipe();
    pid_t intermediate = ::fork();
    if (intermediate < 0) throw LaunchError(executablePath, errno);
    if (intermediate == 0) {
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            execInChild(executablePath.c_str(), argv.get(), devNull.get(), streams, errorWrite.get());
        }
        if (grandchild < 0) {
            int error = errno;
            [[maybe_unused]] auto written = ::write(errorWrite.get(), &error, sizeof error);
        }
        ::_exit(0);
    }
    errorWrite.reset();
    waitForExit(intermediate);
    if (int error = readExecError(errorRead.get()); error != 0) throw LaunchError(executablePath, error);
}

void appendAvailable(int fd, std::string& bytes, bool& open) {
    char buffer[65536];
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
        bytes.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

}  // namespace

CapturedOutput runCapturingOutput(const std::string& executablePath, const std::vector<std::string>& arguments) {
    auto [outputRead, outputWrite] = makePipe();
    pid_t pid = spawn(executablePath, arguments, ChildStreams{outputWrite.get(), false});
    outputWrite.reset();

    FileDescriptor exitWatch(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!exitWatch.valid()) throwSystemError("pidfd_open");

    CapturedOutput result;
    bool pipeOpen = true;
    bool exited = false;
    std::chrono::steady_clock::time_point exitTime;
    // Drain the pipe while the child runs so a child writing megabytes never stalls.
    while (pipeOpen) {
        int timeoutMs = -1;
        if (exited) {
            auto left = endOfPipeGrace - (std::chrono::steady_clock::now() - exitTime);
            if (left <= std::chrono::steady_clock::duration::zero()) break;
            timeoutMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1;
        }
        pollfd watched[2] = {{outputRead.get(), POLLIN, 0}, {exitWatch.get(), POLLIN, 0}};
        int ready = ::poll(watched, exited ? 1 : 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throwSystemError("poll");
        }
        if (watched[0].revents != 0) appendAvailable(outputRead.get(), result.bytes, pipeOpen);
        if (!exited && watched[1].revents != 0) {
            result.status = waitForExit(pid);
            exited = true;
            exitTime = std::chrono::steady_clock::now();
        }
    }
    if (!exited) result.status = waitForExit(pid);
    return result;
}

int runDiscardingOutput(const std::string& executablePath, const std::vector<std::string>& arguments) {
    auto devNull = openDevNull();
    return waitForExit(spawn(executablePath, arguments, ChildStreams{devNull.get(), false}));
}

void launchDetached(const std::string& executablePath, const std::vector<std::string>& arguments,
                    const std::optional<ChildIdentity>& identity) {
    auto devNull = openDevNull();
    spawnOrphan(executablePath, arguments, ChildStreams{devNull.get(), true, identity});
}

void launchInheriting(const std::string& executablePath, const std::vector<std::string>& arguments) {
    spawnOrphan(executablePath, arguments, ChildStreams{-1, false});
}

}  // namespace platform
