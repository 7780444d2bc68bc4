#pragma once
// HTTP and HTTPS through libcurl, standing in for the platform's URL session: proxies
// from the usual environment variables, no caching, redirects followed (at most 20,
// never to another scheme than http or https). The timeout is an idle limit, not a
// cap on the whole transfer: connecting may take 60 s, and a transfer fails once it
// has moved less than 1 byte a second for 60 s, so a large archive on a slow link
// still arrives. A request may add a cap on the whole transfer, so a server that
// trickles just above the idle limit cannot hold it for ever.

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

// A transport failure; what() is curl's own text (or that of the body-size or
// whole-transfer limit).
class PLATFORM_EXPORT TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PLATFORM_EXPORT HTTPRequest {
    WebURL url;
    std::vector<std::pair<std::string, std::string>> headers = {};
    long idleTimeoutSeconds = 60;
    // The whole transfer, connecting included, must end within this; 0 sets no limit.
    long transferTimeoutSeconds = 0;
};

struct PLATFORM_EXPORT HTTPResponse {
    // False for a response that did not come over HTTP (a file URL).
    bool isHTTP = true;
    long statusCode = 0;
};

// Bytes received so far, and the announced total when there is one.
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
