#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests, plain or over TLS: fixed replies per
// path, including broken ones (closed or stalled mid-body, endless, redirect loops),
// and a record of requests.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace testsupport {

class TrustedCertificate;

struct HTTPReply {
    // stallMidBody sends half the body, then nothing until the client hangs up (at most
    // 30 s); trickle sends it in 16 pieces 100 ms apart; byteASecond sends it one byte a
    // second; endless sends the body over and over, with no length, until the client
    // hangs up (at most 30 s).
    enum class Mode { normal, closeMidBody, stallMidBody, trickle, byteASecond, endless };
    int status = 200;
    std::string body = {};
    Mode mode = Mode::normal;
    std::string location = {};  // sent as Location when not empty
    // Sent when not empty. A Range request ("bytes=N-") is answered 206 with the rest
    // when rangeRequests is set and its If-Range (if any) names this tag or date;
    // otherwise the whole body is sent.
    std::string entityTag = {};
    std::string lastModified = {};
    bool rangeRequests = false;
};

struct RecordedRequest {
    std::string target;  // path and query as sent
    std::string headers;

    // The header's value, or nothing.
    std::optional<std::string> header(const std::string& name) const;
};

class LocalHTTPServer {
public:
    LocalHTTPServer();
    // Serves https, presenting the certificate.
    explicit LocalHTTPServer(const TrustedCertificate& certificate);
    ~LocalHTTPServer();
    LocalHTTPServer(const LocalHTTPServer&) = delete;
    LocalHTTPServer& operator=(const LocalHTTPServer&) = delete;

    // Replies for a path (the target without its query); unknown paths get 404.
    void route(const std::string& path, HTTPReply reply);
    // Replies for a path in turn, one per request; the last one answers every request after.
    void routeInTurn(const std::string& path, std::vector<HTTPReply> replies);
    std::string url(const std::string& pathAndQuery) const;
    std::vector<RecordedRequest> requests() const;
    // Requests whose target starts with the path.
    std::size_t requestCount(const std::string& path) const;

private:
    explicit LocalHTTPServer(std::shared_ptr<ssl_ctx_st> tls);
    void acceptLoop();
    void serve(int fd);

    std::shared_ptr<ssl_ctx_st> tls_;  // null for plain http
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex lock_;
    struct Route {
        std::string path;
        std::vector<std::shared_ptr<const HTTPReply>> replies;
        std::size_t served = 0;
    };
    std::vector<Route> routes_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace testsupport
