#include "Platform/HTTPSession.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

struct Transfer {
    Easy handle;
    HeaderList headers;
    // On the heap: curl keeps the buffer's address, which must survive moving the Transfer.
    std::unique_ptr<std::array<char, CURL_ERROR_SIZE>> errorBuffer = std::make_unique<std::array<char, CURL_ERROR_SIZE>>();

    std::string errorText(CURLcode result) const {
        std::string text = (*errorBuffer)[0] != '\0' ? std::string(errorBuffer->data()) : curl_easy_strerror(result);
        // curl names the scheme it refused, not that a redirect led there.
        long redirects = 0;
        curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_COUNT, &redirects);
        return result == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0 ? "A redirect was refused: " + text : text;
    }
};

TransportError::Kind kindOf(CURLcode result) {
    switch (result) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT: return TransportError::Kind::unreachable;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_USE_SSL_FAILED: return TransportError::Kind::secureConnection;
        default: return TransportError::Kind::other;
    }
}

template <typename Value>
void set(CURL* handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK) throw TransportError("curl option could not be set");
}

// An https transfer stays private to its end: it follows redirects only to https. A
// plain http request may still be moved up to https.
const char* redirectProtocols(const WebURL& url) { return url.scheme() == "https" ? "https" : "http,https"; }

Transfer prepare(const HTTPRequest& request) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Transfer transfer{Easy(curl_easy_init()), nullptr};
    CURL* handle = transfer.handle.get();
    if (handle == nullptr) throw TransportError("curl could not be initialised");
    set(handle, CURLOPT_ERRORBUFFER, transfer.errorBuffer->data());
    set(handle, CURLOPT_URL, request.url.absoluteString().c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "http,https,file");
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols(request.url));
    set(handle, CURLOPT_FOLLOWLOCATION, 1L);
    set(handle, CURLOPT_MAXREDIRS, 20L);
    set(handle, CURLOPT_NOSIGNAL, 1L);
    set(handle, CURLOPT_CONNECTTIMEOUT, request.idleTimeoutSeconds);
    set(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(handle, CURLOPT_LOW_SPEED_TIME, request.idleTimeoutSeconds);
    for (const auto& [name, value] : request.headers) {
        curl_slist* extended = curl_slist_append(transfer.headers.get(), (name + ": " + value).c_str());
        if (extended == nullptr) throw TransportError("curl header list could not be built");
        (void)transfer.headers.release();
        transfer.headers.reset(extended);
    }
    if (transfer.headers) set(handle, CURLOPT_HTTPHEADER, transfer.headers.get());
    return transfer;
}

// The whole-transfer limit, shared by every attempt of one download, and the caller's
// cancellation.
struct Deadline {
    std::chrono::steady_clock::time_point start;
    long seconds;
    const std::function<bool()>* cancelled;
    bool passed = false;
    bool cancelledSeen = false;

    bool stop() {
        auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
        passed = seconds > 0 && elapsed.count() >= seconds;
        cancelledSeen = *cancelled && (*cancelled)();
        return passed || cancelledSeen;
    }
    // Whether the pause ends before the limit does.
    bool leavesRoomFor(std::chrono::milliseconds pause) const {
        return seconds <= 0 || std::chrono::steady_clock::now() + pause < start + std::chrono::seconds(seconds);
    }
    TransportError passedError() const {
        return TransportError("The transfer did not finish within " + std::to_string(seconds) + " seconds.");
    }
};

// curl asks at least about once a second, whether bytes move or not.
int stopAfterDeadline(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Deadline*>(context)->stop() ? 1 : 0;
}

std::string tooLarge(std::uint64_t maximumBodySize) {
    return "The response body is larger than " + std::to_string(maximumBodySize) + " bytes.";
}

// Failures in which the connection broke after the server had begun to answer.
bool brokePartWay(CURLcode result) {
    return result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR ||
           result == CURLE_GOT_NOTHING || result == CURLE_OPERATION_TIMEDOUT;
}

long statusCode(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Runs the transfer; a failure is thrown, except a break part-way, which is returned
// for the caller to resume.
CURLcode perform(Transfer& transfer, Deadline& deadline, const std::function<std::optional<std::string>()>& abortReason) {
    if (deadline.seconds > 0 || *deadline.cancelled) {
        set(transfer.handle.get(), CURLOPT_XFERINFOFUNCTION, stopAfterDeadline);
        set(transfer.handle.get(), CURLOPT_XFERINFODATA, static_cast<void*>(&deadline));
        set(transfer.handle.get(), CURLOPT_NOPROGRESS, 0L);
    }
    CURLcode result = curl_easy_perform(transfer.handle.get());
    if (result == CURLE_OK) return result;
    if (deadline.passed) throw deadline.passedError();
    if (deadline.cancelledSeen) throw TransferCancelled();
    if (auto reason = abortReason()) throw TransportError(*reason);
    if (brokePartWay(result)) return result;
    throw TransportError(transfer.errorText(result), kindOf(result));
}

void throwUnlessDone(CURLcode result, const Transfer& transfer) {
    if (result != CURLE_OK) throw TransportError(transfer.errorText(result), kindOf(result));
}

HTTPResponse responseOf(const Transfer& transfer) {
    HTTPResponse response;
    char* effective = nullptr;
    curl_easy_getinfo(transfer.handle.get(), CURLINFO_EFFECTIVE_URL, &effective);
    std::string scheme = effective ? std::string(effective).substr(0, std::string(effective).find(':')) : "";
    response.isHTTP = scheme == "http" || scheme == "https";
    response.statusCode = statusCode(transfer.handle.get());
    return response;
}

struct MemorySink {
    std::string body;
    std::size_t limit;
    bool exceeded = false;
};

std::size_t writeToMemory(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<MemorySink*>(context);
    std::size_t bytes = size * count;
    // Counted as it arrives, so chunked bodies and false lengths are caught too.
    if (sink->body.size() + bytes > sink->limit) {
        sink->exceeded = true;
        return 0;
    }
    sink->body.append(data, bytes);
    return bytes;
}

// What the final response of one attempt said about its body (a redirect's headers
// are forgotten at the next status line).
struct ResponseHeaders {
    std::string entityTag;
    std::string lastModified;
    std::optional<std::uint64_t> rangeStart;
};

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::size_t recordHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto* seen = static_cast<ResponseHeaders*>(context);
    std::size_t bytes = size * count;
    std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) *seen = {};
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return bytes;
    std::string name = lowercase(line.substr(0, colon));
    std::size_t first = line.find_first_not_of(" \t", colon + 1);
    std::size_t last = line.find_last_not_of(" \t\r\n");
    std::string value = first == std::string::npos || last < first ? "" : line.substr(first, last - first + 1);
    if (name == "etag") seen->entityTag = value;
    if (name == "last-modified") seen->lastModified = value;
    unsigned long long start = 0;
    if (name == "content-range" && std::sscanf(value.c_str(), "bytes %llu-", &start) == 1) seen->rangeStart = start;
    return bytes;
}

struct FileSink {
    int fd;
    std::optional<std::uint64_t> limit;
    const ProgressObserver* observer;
    CURL* handle;
    ResponseHeaders headers = {};
    std::uint64_t requestedFrom = 0;  // the Range asked for in this attempt; 0 for none
    bool placed = false;              // whether this attempt's body has its place in the file
    std::uint64_t base = 0;           // where this attempt's body starts in the file
    int error = 0;
    bool exceeded = false;
    bool wrongRange = false;
    std::uint64_t received = 0;  // bytes in the file
};

// The file's bytes are kept when the server sends the asked-for rest (206 from that
// byte); another range is refused, and any other answer replaces them from byte 0.
bool placeBody(FileSink& sink) {
    sink.placed = true;
    long status = statusCode(sink.handle);
    if (sink.requestedFrom > 0 && status == 206 && sink.headers.rangeStart == sink.requestedFrom) {
        sink.base = sink.requestedFrom;
        return true;
    }
    if (sink.requestedFrom > 0 && status == 206) {
        sink.wrongRange = true;
        return false;
    }
    sink.base = 0;
    sink.received = 0;
    // Only a file that holds bytes is cut: on ext4 a cut marks the file as replaced, and
    // closing it then pushes the whole download to the disk before close returns.
    struct stat file {};
    if (::fstat(sink.fd, &file) != 0 || (file.st_size > 0 && ::ftruncate(sink.fd, 0) != 0) ||
        ::lseek(sink.fd, 0, SEEK_SET) != 0) {
        sink.error = errno;
        return false;
    }
    return true;
}

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<FileSink*>(context);
    std::size_t bytes = size * count;
    if (!sink->placed && !placeBody(*sink)) return 0;
    // Checked before writing, so the file never holds a byte past the limit.
    if (sink->limit && bytes > *sink->limit - sink->received) {
        sink->exceeded = true;
        return 0;
    }
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t written = ::write(sink->fd, data + done, bytes - done);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            sink->error = errno;
            return 0;
        }
        done += static_cast<std::size_t>(written);
    }
    sink->received += bytes;
    if (*sink->observer) {
        curl_off_t length = -1;
        curl_easy_getinfo(sink->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        auto expected = length >= 0 ? std::optional<std::uint64_t>(sink->base + static_cast<std::uint64_t>(length)) : std::nullopt;
        (*sink->observer)(sink->received, expected);
    }
    return bytes;
}

// The validator a resumed request may name in If-Range: a strong entity tag, else the
// modification date; a weak tag cannot vouch for bytes. The server's text goes back
// into a request line only when it is short printable text.
std::optional<std::string> rangeValidator(const ResponseHeaders& headers) {
    auto usable = [](const std::string& text) {
        return !text.empty() && text.size() <= 256 &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    };
    if (usable(headers.entityTag) && headers.entityTag.rfind("W/", 0) != 0) return headers.entityTag;
    if (usable(headers.lastModified)) return headers.lastModified;
    return std::nullopt;
}

// Sleeps in short slices so a cancellation is heard; false when cancelled.
bool pauseUnlessCancelled(std::chrono::milliseconds pause, const std::function<bool()>& cancelled) {
    auto end = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < end) {
        if (cancelled && cancelled()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(50),
                                                                                   end - std::chrono::steady_clock::now()));
    }
    return true;
}

constexpr std::chrono::milliseconds firstResumePause{250};

// A download reads the socket in blocks of up to this size rather than curl's 16 KiB,
// so a fast link costs far fewer reads and polls per byte.
constexpr long downloadBufferBytes = 512 * 1024;

}  // namespace

std::shared_ptr<HTTPSession> HTTPSession::shared() {
    static const auto session = std::make_shared<HTTPSession>();
    return session;
}

std::pair<std::string, HTTPResponse> HTTPSession::data(const HTTPRequest& request, std::size_t maximumBodySize) const {
    Transfer transfer = prepare(request);
    MemorySink sink{{}, maximumBodySize};
    set(transfer.handle.get(), CURLOPT_WRITEFUNCTION, writeToMemory);
    set(transfer.handle.get(), CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    Deadline deadline{std::chrono::steady_clock::now(), request.transferTimeoutSeconds, &request.cancelled};
    throwUnlessDone(perform(transfer, deadline,
                            [&]() -> std::optional<std::string> {
                                if (!sink.exceeded) return std::nullopt;
                                return tooLarge(maximumBodySize);
                            }),
                    transfer);
    return {std::move(sink.body), responseOf(transfer)};
}

HTTPResponse HTTPSession::download(const HTTPRequest& request, int fileDescriptor, const ProgressObserver& observer,
                                   std::optional<std::uint64_t> maximumBodySize) const {
    Deadline deadline{std::chrono::steady_clock::now(), request.transferTimeoutSeconds, &request.cancelled};
    FileSink sink{fileDescriptor, maximumBodySize, &observer, nullptr};
    std::optional<std::string> validator;
    for (int attempt = 1;; ++attempt) {
        HTTPRequest attempted = request;
        sink.requestedFrom = validator && sink.received > 0 ? sink.received : 0;
        if (sink.requestedFrom > 0) {
            attempted.headers.emplace_back("Range", "bytes=" + std::to_string(sink.requestedFrom) + "-");
            attempted.headers.emplace_back("If-Range", *validator);
        }
        Transfer transfer = prepare(attempted);
        sink.handle = transfer.handle.get();
        sink.placed = false;
        set(transfer.handle.get(), CURLOPT_BUFFERSIZE, downloadBufferBytes);
        set(transfer.handle.get(), CURLOPT_WRITEFUNCTION, writeToFile);
        set(transfer.handle.get(), CURLOPT_WRITEDATA, static_cast<void*>(&sink));
        set(transfer.handle.get(), CURLOPT_HEADERFUNCTION, recordHeader);
        set(transfer.handle.get(), CURLOPT_HEADERDATA, static_cast<void*>(&sink.headers));
        auto abortReason = [&]() -> std::optional<std::string> {
            if (sink.exceeded) return tooLarge(*maximumBodySize);
            if (sink.wrongRange) return std::string("The server answered with a range that was not asked for.");
            if (sink.error == 0) return std::nullopt;
            return std::string("The download could not be written: ") + std::strerror(sink.error);
        };
        CURLcode result = perform(transfer, deadline, abortReason);
        // A whole answer without a body still replaces what an earlier attempt left.
        if (result == CURLE_OK && !sink.placed && !placeBody(sink)) throw TransportError(abortReason().value_or("bad range"));
        long status = statusCode(transfer.handle.get());
        if (sink.placed && sink.base == 0 && (status == 200 || status == 206)) validator = rangeValidator(sink.headers);
        if (result == CURLE_OK) return responseOf(transfer);
        bool resumable = status == 200 || status == 206;
        auto pause = firstResumePause * (1 << std::min(attempt - 1, 8));
        if (!resumable || attempt >= request.downloadAttempts) throwUnlessDone(result, transfer);
        if (!deadline.leavesRoomFor(pause)) throw deadline.passedError();
        if (!pauseUnlessCancelled(pause, request.cancelled)) throw TransferCancelled();
    }
}

}  // namespace platform
