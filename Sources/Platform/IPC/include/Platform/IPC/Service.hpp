#pragma once
// Local IPC services over Unix stream sockets, standing in for the platform's XPC.
//
// A service name maps to a socket: with the privileged option (0x1000) the system
// domain, /run/autoupdatekit/<name>.sock; otherwise the user's domain,
// $XDG_RUNTIME_DIR/autoupdatekit/<name>.sock (or /run/user/<uid>/autoupdatekit/).
// A request message holds "selector", an optional archived "argument" and a
// "replyID"; its reply holds the same "replyID" and the archived "reply".

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/MessageStream.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace platform::ipc {

inline constexpr std::uint64_t privilegedOption = 0x1000;

// What a listener grants its peers, so that no local user can starve it of threads,
// memory or descriptors. Connections over a cap are closed as soon as they are
// accepted; root's own connections count only against root's cap.
inline constexpr int maximumConnectionsPerUser = 8;       // open at once for one non-root user id
inline constexpr int maximumNonRootConnections = 64;      // open at once for all non-root user ids together
inline constexpr int maximumRootConnections = 256;        // open at once for root
// A connection is ended when no message starts within the idle timeout, when a message
// is not whole within the read timeout of its first byte, or when its peer does not
// take a reply within the write timeout.
inline constexpr std::chrono::seconds connectionIdleTimeout{10};
inline constexpr std::chrono::seconds messageReadTimeout{10};
inline constexpr std::chrono::seconds replyWriteTimeout{10};
// How long the accept loop pauses when the process or the system is out of descriptors
// or buffers, instead of retrying at once.
inline constexpr std::chrono::milliseconds acceptBackoff{100};

// The socket path of a service. A name that is empty, starts with "." or holds "/"
// throws IPCError.
std::string socketPath(const std::string& serviceName, std::uint64_t options);
// A socket listening at the service's path (a stale one removed), for the service or
// for a supervisor that starts it on demand: privileged services take any local user,
// others only their own.
FileDescriptor bindServiceSocket(const std::string& serviceName, std::uint64_t options);

// Who is on the other end of a connection, taken when it was accepted.
struct PeerCredentials {
    pid_t processIdentifier = 0;
    uid_t userIdentifier = 0;
    gid_t groupIdentifier = 0;
    // Supplementary groups, so work done on the peer's behalf can take its exact rights.
    std::vector<gid_t> groups;
    // A pidfd of the peer process: it follows that process itself, where its number may
    // name another process once it has ended. Shared, so copies stay cheap; null when
    // none could be had (the process had already ended, or no descriptor was left).
    std::shared_ptr<const FileDescriptor> processDescriptor;
};

// The peer of the connection whose message the calling thread is handling, as the
// platform's "current connection" gives it; nothing outside a handler.
std::optional<PeerCredentials> currentPeerCredentials();

// Called exactly once per message with the archived reply.
using ReplyCallback = std::function<void(const PropertyDictionary& reply)>;

// The object a listener exports on every connection. Its operations run on the
// connection's own thread, one message after another.
class ExportedObject {
public:
    virtual ~ExportedObject() = default;
    // Returns false when the argument does not decode for the selector; the connection
    // is then ended without a reply.
    virtual bool handle(const std::string& selector, const PropertyValue& argument, const PeerCredentials& peer,
                        ReplyCallback reply) = 0;
};

class Listener {
public:
    // Uses the socket handed over by a supervisor (LISTEN_PID/LISTEN_FDS, descriptor 3)
    // when there is one, else binds the service's socket itself.
    Listener(std::string serviceName, std::uint64_t options);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Decides per connection what it exports; returns nothing to refuse it.
    using AcceptHandler = std::function<std::shared_ptr<ExportedObject>(const PeerCredentials& peer)>;
    void setAcceptHandler(AcceptHandler handler) { acceptHandler_ = std::move(handler); }

    // Starts accepting on a thread of its own; each connection is served on its own
    // thread, within the connection caps and timeouts above.
    void resume();

private:
    // The open connections the caps count, shared with the connection threads, each of
    // which gives its place back when it ends.
    struct ConnectionCounts;

    void acceptLoop();

    std::string serviceName_;
    FileDescriptor socket_;
    AcceptHandler acceptHandler_;
    std::shared_ptr<ConnectionCounts> counts_;
    std::thread acceptThread_;
};

// One client connection to a service.
class Connection {
public:
    Connection(std::string serviceName, std::uint64_t options);

    // Connects. A failure is kept and reported to the error handler of the next send.
    void resume();

    // Sends the message and waits for its reply: exactly one of onReply and onError
    // is called, once, before this returns.
    void send(const std::string& selector, const std::optional<PropertyDictionary>& argument,
              const std::function<void(const PropertyValue& reply)>& onReply,
              const std::function<void(const std::string& description)>& onError);

    // Closes the connection; later sends report an invalid connection.
    void invalidate();

private:
    std::string serviceName_;
    std::uint64_t options_;
    FileDescriptor socket_;
    std::optional<std::string> connectError_;
    std::int64_t nextReplyID_ = 1;
    bool invalidated_ = false;
};

}  // namespace platform::ipc
