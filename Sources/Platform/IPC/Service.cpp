#include "Platform/IPC/Service.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/UserDirectories.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <system_error>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::ipc {
namespace {

constexpr const char* selectorKey = "selector";
constexpr const char* argumentKey = "argument";
constexpr const char* replyIDKey = "replyID";
constexpr const char* replyKey = "reply";
constexpr int activatedSocket = 3;

// Linux 6.5 and later; older C library headers do not name it yet.
#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

thread_local std::optional<PeerCredentials> handlingPeer;

std::string serviceFolder(std::uint64_t options) {
    if (options & privilegedOption) return "/run/autoupdatekit";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && runtime[0] == '/' ? runtime : "/run/user/" + std::to_string(::getuid());
    return base + "/autoupdatekit";
}

sockaddr_un addressFor(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw IPCError("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// The socket a supervisor handed over, if this process was started for one.
FileDescriptor activatedListenSocket() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (!pid || !fds || std::atol(pid) != ::getpid() || std::atoi(fds) < 1) return FileDescriptor();
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    ::fcntl(activatedSocket, F_SETFD, FD_CLOEXEC);
    return FileDescriptor(activatedSocket);
}

// The peer's supplementary groups; none when the socket cannot tell.
std::vector<gid_t> peerGroups(int socket) {
    std::vector<gid_t> groups(64);
    while (true) {
        auto length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (::getsockopt(socket, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        // ERANGE reports the size needed; the kernel caps a process at 65536 groups.
        if (errno != ERANGE || length / sizeof(gid_t) <= groups.size() || length / sizeof(gid_t) > 65536) return {};
        groups.resize(length / sizeof(gid_t));
    }
}

// The peer's own pidfd as the kernel recorded it at connect. Kernels before 6.5 do not
// know the option: a pidfd of the peer's number now, at accept, is the next best.
std::shared_ptr<const FileDescriptor> peerProcessDescriptor(int socket, pid_t pid) {
    int fd = -1;
    socklen_t length = sizeof fd;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &fd, &length) != 0) {
        if (errno != ENOPROTOOPT || pid <= 0) return nullptr;
        // By system call: this C library's header does not declare it for C++.
        fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (fd < 0) return nullptr;
    }
    return std::make_shared<const FileDescriptor>(fd);
}

// Serves one accepted connection until the peer closes it, sends something broken or
// lets a timeout pass. The slot (a place under the connection caps) is given back when
// the last reference to it ends.
void serveConnection(std::shared_ptr<FileDescriptor> socket, std::shared_ptr<ExportedObject> exported, PeerCredentials peer,
                     std::shared_ptr<void> slot) {
    auto sendLock = std::make_shared<std::mutex>();
    try {
        while (auto message = readMessage(socket->get(), connectionIdleTimeout, messageReadTimeout)) {
            const std::string* selector = PropertyList::stringValue(*message, selectorKey);
            auto replyID = message->find(replyIDKey);
            const std::int64_t* idValue = replyID == message->end() ? nullptr : replyID->second.getIf<std::int64_t>();
            if (selector == nullptr || idValue == nullptr) return;
            std::int64_t id = *idValue;
            auto argument = message->find(argumentKey);
            PropertyValue argumentValue = argument == message->end() ? PropertyValue() : argument->second;
            ReplyCallback reply = [socket, sendLock, id, slot](const PropertyDictionary& archived) {
                std::lock_guard<std::mutex> guard(*sendLock);
                try {
                    writeMessage(socket->get(), PropertyDictionary{{replyIDKey, id}, {replyKey, archived}}, replyWriteTimeout);
                } catch (const IPCError&) {
                    // The client went away or does not read: its reply is not delivered,
                    // and the connection ends (the next read sees the shutdown).
                    ::shutdown(socket->get(), SHUT_RDWR);
                }
            };
            handlingPeer = peer;
            bool handled = exported->handle(*selector, argumentValue, peer, std::move(reply));
            handlingPeer.reset();
            if (!handled) return;
        }
    } catch (const IPCError&) {
        // A malformed, oversized, truncated or late message ends this connection only.
    }
}

}  // namespace

FileDescriptor bindServiceSocket(const std::string& serviceName, std::uint64_t options) {
    std::string path = socketPath(serviceName, options);
    std::string folder = path.substr(0, path.rfind('/'));
    createDirectories(folder, (options & privilegedOption) ? 0755 : 0700);
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw IPCError(std::string("socket: ") + std::strerror(errno));
    sockaddr_un address = addressFor(path);
    ::unlink(path.c_str());
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw IPCError("bind " + path + ": " + std::strerror(errno));
    }
    // Any local user may connect; what a request may do is limited by the service.
    ::chmod(path.c_str(), (options & privilegedOption) ? 0666 : 0600);
    if (::listen(fd.get(), 128) != 0) throw IPCError(std::string("listen: ") + std::strerror(errno));
    return fd;
}

struct Listener::ConnectionCounts {
    std::mutex lock;
    int root = 0;
    int nonRoot = 0;
    std::map<uid_t, int> perUser;  // non-root user ids with open connections

    // A slot for a new connection of user, or nothing when a cap is reached. The slot
    // is given back when its last copy ends.
    static std::shared_ptr<void> admit(const std::shared_ptr<ConnectionCounts>& counts, uid_t user) {
        {
            std::lock_guard<std::mutex> guard(counts->lock);
            if (user == 0) {
                if (counts->root >= maximumRootConnections) return nullptr;
                ++counts->root;
            } else {
                int& mine = counts->perUser[user];
                if (mine >= maximumConnectionsPerUser || counts->nonRoot >= maximumNonRootConnections) {
                    if (mine == 0) counts->perUser.erase(user);
                    return nullptr;
                }
                ++mine;
                ++counts->nonRoot;
            }
        }
        static int token = 0;
        return std::shared_ptr<void>(&token, [counts, user](void*) { counts->release(user); });
    }

    void release(uid_t user) {
        std::lock_guard<std::mutex> guard(lock);
        if (user == 0) {
            --root;
            return;
        }
        --nonRoot;
        auto found = perUser.find(user);
        if (found != perUser.end() && --found->second <= 0) perUser.erase(found);
    }
};

std::optional<PeerCredentials> currentPeerCredentials() { return handlingPeer; }

std::string socketPath(const std::string& serviceName, std::uint64_t options) {
    if (serviceName.empty() || serviceName.front() == '.' || serviceName.find('/') != std::string::npos) {
        throw IPCError("invalid service name \"" + serviceName + "\"");
    }
    return serviceFolder(options) + "/" + serviceName + ".sock";
}

Listener::Listener(std::string serviceName, std::uint64_t options)
    : serviceName_(std::move(serviceName)), socket_(activatedListenSocket()), counts_(std::make_shared<ConnectionCounts>()) {
    if (!socket_.valid()) socket_ = bindServiceSocket(serviceName_, options);
}

Listener::~Listener() {
    ::shutdown(socket_.get(), SHUT_RDWR);
    if (acceptThread_.joinable()) acceptThread_.join();
}

void Listener::resume() {
    if (!acceptThread_.joinable()) acceptThread_ = std::thread([this] { acceptLoop(); });
}

void Listener::acceptLoop() {
    while (true) {
        int client = ::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The connection waits in the backlog; retrying at once would only spin.
                std::this_thread::sleep_for(acceptBackoff);
                continue;
            }
            return;  // the listening socket was shut down
        }
        auto socket = std::make_shared<FileDescriptor>(client);
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) continue;
        std::shared_ptr<void> slot = ConnectionCounts::admit(counts_, credentials.uid);
        if (!slot) continue;  // over a cap: closed at once
        PeerCredentials peer{credentials.pid, credentials.uid, credentials.gid, peerGroups(client),
                             peerProcessDescriptor(client, credentials.pid)};
        std::shared_ptr<ExportedObject> exported = acceptHandler_ ? acceptHandler_(peer) : nullptr;
        if (!exported) continue;
        try {
            std::thread(serveConnection, socket, exported, peer, std::move(slot)).detach();
        } catch (const std::system_error&) {
            // No thread to be had: this connection is closed, and the loop pauses.
            std::this_thread::sleep_for(acceptBackoff);
        }
    }
}

Connection::Connection(std::string serviceName, std::uint64_t options)
    : serviceName_(std::move(serviceName)), options_(options) {}

void Connection::resume() {
    try {
        std::string path = socketPath(serviceName_, options_);
        FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) throw IPCError(std::string("socket: ") + std::strerror(errno));
        sockaddr_un address = addressFor(path);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw IPCError("Couldn't communicate with a helper application: no service named " + serviceName_ + " (" +
                           std::strerror(errno) + ")");
        }
        socket_ = std::move(fd);
    } catch (const IPCError& error) {
        connectError_ = error.what();
    }
}

void Connection::send(const std::string& selector, const std::optional<PropertyDictionary>& argument,
                      const std::function<void(const PropertyValue& reply)>& onReply,
                      const std::function<void(const std::string& description)>& onError) {
    if (invalidated_) return onError("The connection to service " + serviceName_ + " was invalidated.");
    if (connectError_) return onError(*connectError_);
    if (!socket_.valid()) return onError("The connection to service " + serviceName_ + " was not resumed.");
    std::int64_t id = nextReplyID_++;
    PropertyDictionary message{{selectorKey, selector}, {replyIDKey, id}};
    if (argument) message[argumentKey] = *argument;
    try {
        writeMessage(socket_.get(), message);
        while (auto received = readMessage(socket_.get())) {
            auto replyID = received->find(replyIDKey);
            if (replyID == received->end() || replyID->second != PropertyValue(id)) continue;
            auto reply = received->find(replyKey);
            return onReply(reply == received->end() ? PropertyValue() : reply->second);
        }
        onError("The connection to service " + serviceName_ + " was interrupted before the reply.");
    } catch (const IPCError& error) {
        onError("The connection to service " + serviceName_ + " was interrupted: " + error.what());
    }
}

void Connection::invalidate() {
    invalidated_ = true;
    socket_.reset();
}

}  // namespace platform::ipc
