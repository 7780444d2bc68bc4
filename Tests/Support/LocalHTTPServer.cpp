#include "LocalHTTPServer.hpp"

#include "HelperProcess.hpp"
#include "TrustedCertificate.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

std::shared_ptr<SSL_CTX> serverContext(const TrustedCertificate& certificate) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
    if (!context || SSL_CTX_use_certificate_file(context.get(), certificate.certificateFile().c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), certificate.keyFile().c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("cannot set up TLS for the test server");
    }
    return context;
}

// One client's connection, plain or through TLS, closed at the end of the scope.
class Connection {
public:
    Connection(int fd, SSL_CTX* tls) : fd_(fd), ssl_(nullptr, &SSL_free) {
        if (tls == nullptr) return;
        // A client that hangs up mid-write fails the write instead of killing the tests.
        sigset_t pipe;
        ::sigemptyset(&pipe);
        ::sigaddset(&pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        ssl_.reset(SSL_new(tls));
        ready_ = ssl_ && SSL_set_fd(ssl_.get(), fd) == 1 && SSL_accept(ssl_.get()) == 1;
    }
    ~Connection() {
        if (ssl_ && ready_) SSL_shutdown(ssl_.get());
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False when the TLS handshake failed.
    bool ready() const { return ready_; }
    int fd() const { return fd_; }

    // False once the client has ended the connection.
    bool send(std::string_view bytes) {
        std::size_t written = 0;
        if (!ssl_) return sendAll(fd_, bytes);
        return bytes.empty() || SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written) == 1;
    }
    // The bytes read; 0 or less at the end or on failure.
    ssize_t receive(char* buffer, std::size_t size) {
        std::size_t read = 0;
        if (!ssl_) return ::recv(fd_, buffer, size, 0);
        return SSL_read_ex(ssl_.get(), buffer, size, &read) == 1 ? static_cast<ssize_t>(read) : -1;
    }

private:
    int fd_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_;
    bool ready_ = true;
};

void sendEndlessly(Connection& client, std::string_view body) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end && client.send(body)) {
    }
}

void waitForHangUp(Connection& client) {
    pollfd watched{client.fd(), POLLIN, 0};
    char byte;
    while (::poll(&watched, 1, 30000) > 0 && client.receive(&byte, 1) > 0) {
    }
}

// Where a Range request that the reply may answer with the rest starts.
std::optional<std::size_t> rangeStart(const RecordedRequest& request, const HTTPReply& reply) {
    auto range = request.header("Range");
    if (!reply.rangeRequests || !range || range->rfind("bytes=", 0) != 0 || range->back() != '-') return std::nullopt;
    auto validator = request.header("If-Range");
    if (validator && *validator != reply.entityTag && *validator != reply.lastModified) return std::nullopt;
    std::size_t from = std::stoul(range->substr(6));
    if (from >= reply.body.size()) return std::nullopt;
    return from;
}

std::string reasonFor(int status) { return status < 300 ? "OK" : status < 400 ? "Redirect" : "Error"; }

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    std::size_t at = headers.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::nullopt;
    std::size_t start = at + name.size() + 4;
    return headers.substr(start, headers.find("\r\n", start) - start);
}

LocalHTTPServer::LocalHTTPServer() : LocalHTTPServer(nullptr) {}

LocalHTTPServer::LocalHTTPServer(const TrustedCertificate& certificate) : LocalHTTPServer(serverContext(certificate)) {}

LocalHTTPServer::LocalHTTPServer(std::shared_ptr<ssl_ctx_st> tls) : tls_(std::move(tls)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LocalHTTPServer::~LocalHTTPServer() {
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    for (auto& connection : connections_) connection.join();
}

void LocalHTTPServer::route(const std::string& path, HTTPReply reply) { routeInTurn(path, {std::move(reply)}); }

void LocalHTTPServer::routeInTurn(const std::string& path, std::vector<HTTPReply> replies) {
    std::lock_guard<std::mutex> guard(lock_);
    Route added{path, {}, 0};
    for (auto& reply : replies) added.replies.push_back(std::make_shared<const HTTPReply>(std::move(reply)));
    routes_.push_back(std::move(added));
}

std::string LocalHTTPServer::url(const std::string& pathAndQuery) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + pathAndQuery;
}

std::vector<RecordedRequest> LocalHTTPServer::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::size_t LocalHTTPServer::requestCount(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : requests()) if (request.target.rfind(path, 0) == 0) ++count;
    return count;
}

void LocalHTTPServer::acceptLoop() {
    while (true) {
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        std::lock_guard<std::mutex> guard(lock_);
        connections_.emplace_back([this, client] { serve(client); });
    }
}

void LocalHTTPServer::serve(int fd) {
    Connection client(fd, tls_.get());
    if (!client.ready()) return;
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        ssize_t count = client.receive(buffer, sizeof buffer);
        if (count <= 0) break;
        head.append(buffer, static_cast<std::size_t>(count));
    }
    std::size_t targetStart = head.find(' ') + 1;
    std::string target = head.substr(targetStart, head.find(' ', targetStart) - targetStart);
    std::string path = target.substr(0, target.find('?'));
    RecordedRequest received{target, head.substr(0, head.find("\r\n\r\n"))};
    auto found = std::make_shared<const HTTPReply>(HTTPReply{404, "not found"});
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(received);
        Route* matched = nullptr;
        for (auto& candidate : routes_) {
            if (candidate.path == path) matched = &candidate;
        }
        if (matched != nullptr) found = matched->replies[std::min(matched->served++, matched->replies.size() - 1)];
    }
    // Served from the shared reply, never copied: a body may be a 1 GiB archive whose
    // copy would be timed with every download of it.
    const HTTPReply& reply = *found;
    std::string_view body = reply.body;
    int status = reply.status;
    std::string extra;
    if (auto from = rangeStart(received, reply)) {
        extra = "Content-Range: bytes " + std::to_string(*from) + "-" + std::to_string(reply.body.size() - 1) + "/" +
                std::to_string(reply.body.size()) + "\r\n";
        status = 206;
        body = body.substr(*from);
    }
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reasonFor(status) + "\r\nConnection: close\r\n" + extra;
    if (!reply.location.empty()) response += "Location: " + reply.location + "\r\n";
    if (!reply.entityTag.empty()) response += "ETag: " + reply.entityTag + "\r\n";
    if (!reply.lastModified.empty()) response += "Last-Modified: " + reply.lastModified + "\r\n";
    if (reply.mode == HTTPReply::Mode::endless) {
        client.send(response + "\r\n");
        sendEndlessly(client, body);
    } else {
        response += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
        bool half = reply.mode == HTTPReply::Mode::closeMidBody || reply.mode == HTTPReply::Mode::stallMidBody;
        std::size_t sent = half ? body.size() / 2 : body.size();
        client.send(response);
        bool byteASecond = reply.mode == HTTPReply::Mode::byteASecond;
        std::size_t piece = reply.mode == HTTPReply::Mode::trickle ? sent / 16 + 1 : byteASecond ? 1 : sent;
        auto pause = std::chrono::milliseconds(byteASecond ? 1000 : 100);
        for (std::size_t at = 0; at < sent; at += piece) {
            if (at > 0) std::this_thread::sleep_for(pause);
            if (!client.send(body.substr(at, std::min(piece, sent - at)))) break;
        }
        if (reply.mode == HTTPReply::Mode::stallMidBody) waitForHangUp(client);
    }
}

}  // namespace testsupport
