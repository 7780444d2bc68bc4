#include "StagedBundle.hpp"

#include "HelperError.hpp"

#include "Platform/SystemError.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

enum Outcome : char { opened, unreachable, notOwned };

// Runs in the forked child of a threaded process: raw system calls only, which change
// this one thread's credentials and allocate nothing.
[[noreturn]] void openAsRequester(int socket, const char* path, uid_t user, gid_t group, const gid_t* groups,
                                  std::size_t groupCount) {
    ::prctl(PR_SET_DUMPABLE, 0);
    bool switched = user == 0 || (::syscall(SYS_setgroups, groupCount, groups) == 0 &&
                                  ::syscall(SYS_setresgid, group, group, group) == 0 &&
                                  ::syscall(SYS_setresuid, user, user, user) == 0);
    if (!switched) ::_exit(1);
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int folder = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how));
    struct stat status {};
    char outcome = unreachable;
    if (folder >= 0 && ::fstat(folder, &status) == 0) outcome = user == 0 || status.st_uid == user ? opened : notOwned;

    iovec data{&outcome, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (outcome == opened) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &folder, sizeof(int));
    }
    ::_exit(::sendmsg(socket, &message, MSG_NOSIGNAL) == 1 ? 0 : 1);
}

struct Answer {
    Outcome outcome;
    platform::FileDescriptor folder;
};

// The child's answer, with the folder when it opened one; unreachable when it sends
// nothing in time or anything malformed.
Answer receiveAnswer(int socket) {
    pollfd waiting{socket, POLLIN, 0};
    int timeout = static_cast<int>(std::chrono::milliseconds(StagedBundle::openTimeout).count());
    if (::poll(&waiting, 1, timeout) != 1) return {unreachable, platform::FileDescriptor()};
    char outcome = unreachable;
    iovec data{&outcome, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(socket, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT) != 1) return {unreachable, platform::FileDescriptor()};
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    platform::FileDescriptor folder;
    if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
        header->cmsg_len == CMSG_LEN(sizeof(int))) {
        int received = -1;
        std::memcpy(&received, CMSG_DATA(header), sizeof(int));
        folder = platform::FileDescriptor(received);
    }
    if ((message.msg_flags & MSG_CTRUNC) || (outcome == opened) != folder.valid()) return {unreachable, platform::FileDescriptor()};
    return {static_cast<Outcome>(outcome), std::move(folder)};
}

}  // namespace

StagedBundle::StagedBundle(std::string requestedPath, platform::FileDescriptor folder, uid_t requester)
    : requestedPath_(std::move(requestedPath)),
      folder_(std::make_shared<platform::FileDescriptor>(std::move(folder))),
      openedPath_("/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(folder_->get())),
      requester_(requester) {}

StagedBundle StagedBundle::open(const std::string& path, const platform::ipc::PeerCredentials& requester) {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) platform::throwSystemError("socketpair");
    platform::FileDescriptor ours(sockets[0]);
    platform::FileDescriptor theirs(sockets[1]);
    pid_t child = ::fork();
    if (child < 0) platform::throwSystemError("fork");
    if (child == 0) {
        openAsRequester(theirs.get(), path.c_str(), requester.userIdentifier, requester.groupIdentifier,
                        requester.groups.data(), requester.groups.size());
    }
    theirs.reset();
    auto [outcome, folder] = receiveAnswer(ours.get());
    ::kill(child, SIGKILL);  // a child still hanging in a lookup ends here
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (outcome == notOwned) throw HelperError::policyMismatch("The staged app at " + path + " does not belong to the requesting user.");
    if (outcome != opened) throw HelperError::appMissing(path);
    return StagedBundle(path, std::move(folder), requester.userIdentifier);
}

std::string StagedBundle::withRequestedPath(std::string message) const {
    for (std::size_t found = message.find(openedPath_); found != std::string::npos;
         found = message.find(openedPath_, found + requestedPath_.size())) {
        message.replace(found, openedPath_.size(), requestedPath_);
    }
    return message;
}

}  // namespace privilegedhelper
