#pragma once
// HTTP and HTTPS through libcurl, standing in for the platform's URL session: proxies
// from the usual environment variables, no caching, redirects followed (at most 20,
// never to another scheme than http or https, and from an https request only to
// https; a refused redirect fails as a TransportError before its target is contacted).
// The timeout is an idle limit, not a cap on the whole transfer: connecting may take
// 60 s, and a transfer fails once it has moved less than 1 byte a second for 60 s, so a
// large archive on a slow link still arrives. A request may add a cap on the whole
// transfer, so a server that trickles just above the idle limit cannot hold it for ever.
//
// A download may resume: a transfer that breaks part-way (connection closed or reset,
// idle limit) is taken up again with a Range request, guarded by If-Range on the
// validator the first response gave, after growing pauses; a server that answers the
// whole body instead is read again from byte 0. Every attempt and pause fits in the one
// whole-transfer limit, and the size limit counts the whole file, not one attempt.

#include "Platform/Export.hpp"
#include "Platform/WebURL.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A transport failure; what() is curl's own text (after "A redirect was refused: " when
// a redirect led to a scheme not followed), or that of the body-size or whole-transfer
// limit.
class PLATFORM_EXPORT TransportError : public std::runtime_error {
public:
    // No connection was made at all (a name that does not resolve, a refused or
    // unreachable address), the TLS handshake or certificate failed, or anything else:
    // a break, a limit, a refused redirect.
    enum class Kind { unreachable, secureConnection, other };

    explicit TransportError(const std::string& text, Kind kind = Kind::other) : std::runtime_error(text), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

struct PLATFORM_EXPORT HTTPRequest {
    WebURL url;
    std::vector<std::pair<std::string, std::string>> headers = {};
    long idleTimeoutSeconds = 60;
    // The whole transfer, connecting included, must end within this; 0 sets no limit.
    long transferTimeoutSeconds = 0;
    // Downloads only: how many attempts a broken transfer may take in all (1: no resuming).
    int downloadAttempts = 1;
    // Asked about once a second and between attempts; true ends the transfer at once
    // with a TransferCancelled.
    std::function<bool()> cancelled = {};
};

// A transfer ended because the request's cancelled() said so.
class TransferCancelled : public TransportError {
public:
    TransferCancelled() : TransportError("The transfer was cancelled.") {}
};

struct PLATFORM_EXPORT HTTPResponse {
    // False for a response that did not come over HTTP (a file URL).
    bool isHTTP = true;
    long statusCode = 0;
};

// Bytes received so far, and the announced total when there is one; a resumed download
// counts the bytes it already had once.
using ProgressObserver = std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)>;

class PLATFORM_EXPORT HTTPSession {
public:
    // The process-wide session.
    static std::shared_ptr<HTTPSession> shared();

    // The whole body in memory; a body above maximumBodySize, however it is sent
    // (announced or not), fails as a TransportError.
    std::pair<std::string, HTTPResponse> data(const HTTPRequest& request, std::size_t maximumBodySize) const;

    // Streams the body into the (already created, empty) file. With a maximum, a body
    // that grows past it fails as a TransportError before a byte beyond it is written.
    HTTPResponse download(const HTTPRequest& request, int fileDescriptor, const ProgressObserver& observer,
                          std::optional<std::uint64_t> maximumBodySize = std::nullopt) const;
};

}  // namespace platform
