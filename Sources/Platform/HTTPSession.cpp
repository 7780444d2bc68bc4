#include "Platform/HTTPSession.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
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
    char errorText[CURL_ERROR_SIZE] = {};
};

template <typename Value>
void set(CURL* handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK) throw TransportError("curl option could not be set");
}

Transfer prepare(const HTTPRequest& request) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Transfer transfer{Easy(curl_easy_init()), nullptr, {}};
    CURL* handle = transfer.handle.get();
    if (handle == nullptr) throw TransportError("curl could not be initialised");
    set(handle, CURLOPT_ERRORBUFFER, transfer.errorText);
    set(handle, CURLOPT_URL, request.url.absoluteString().c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "http,https,file");
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
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

struct Deadline {
    std::chrono::steady_clock::time_point start;
    long seconds;
    bool passed = false;
};

// curl asks at least about once a second, whether bytes move or not.
int stopAfterDeadline(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* deadline = static_cast<Deadline*>(context);
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - deadline->start);
    deadline->passed = elapsed.count() >= deadline->seconds;
    return deadline->passed ? 1 : 0;
}

std::string tooLarge(std::uint64_t maximumBodySize) {
    return "The response body is larger than " + std::to_string(maximumBodySize) + " bytes.";
}

HTTPResponse perform(Transfer& transfer, long transferTimeoutSeconds, const std::function<std::optional<std::string>()>& abortReason) {
    Deadline deadline{std::chrono::steady_clock::now(), transferTimeoutSeconds};
    if (transferTimeoutSeconds > 0) {
        set(transfer.handle.get(), CURLOPT_XFERINFOFUNCTION, stopAfterDeadline);
        set(transfer.handle.get(), CURLOPT_XFERINFODATA, static_cast<void*>(&deadline));
        set(transfer.handle.get(), CURLOPT_NOPROGRESS, 0L);
    }
    CURLcode result = curl_easy_perform(transfer.handle.get());
    if (result != CURLE_OK) {
        if (deadline.passed) {
            throw TransportError("The transfer did not finish within " + std::to_string(transferTimeoutSeconds) + " seconds.");
        }
        if (auto reason = abortReason()) throw TransportError(*reason);
        throw TransportError(transfer.errorText[0] ? transfer.errorText : curl_easy_strerror(result));
    }
    HTTPResponse response;
    char* effective = nullptr;
    curl_easy_getinfo(transfer.handle.get(), CURLINFO_EFFECTIVE_URL, &effective);
    std::string scheme = effective ? std::string(effective).substr(0, std::string(effective).find(':')) : "";
    response.isHTTP = scheme == "http" || scheme == "https";
    curl_easy_getinfo(transfer.handle.get(), CURLINFO_RESPONSE_CODE, &response.statusCode);
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

struct FileSink {
    int fd;
    std::optional<std::uint64_t> limit;
    const ProgressObserver* observer;
    CURL* handle;
    int error = 0;
    bool exceeded = false;
    std::uint64_t received = 0;
};

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<FileSink*>(context);
    std::size_t bytes = size * count;
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
        (*sink->observer)(sink->received, length >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(length)) : std::nullopt);
    }
    return bytes;
}

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
    HTTPResponse response = perform(transfer, request.transferTimeoutSeconds, [&]() -> std::optional<std::string> {
        if (!sink.exceeded) return std::nullopt;
        return tooLarge(maximumBodySize);
    });
    return {std::move(sink.body), response};
}

HTTPResponse HTTPSession::download(const HTTPRequest& request, int fileDescriptor, const ProgressObserver& observer,
                                   std::optional<std::uint64_t> maximumBodySize) const {
    Transfer transfer = prepare(request);
    FileSink sink{fileDescriptor, maximumBodySize, &observer, transfer.handle.get()};
    set(transfer.handle.get(), CURLOPT_WRITEFUNCTION, writeToFile);
    set(transfer.handle.get(), CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    return perform(transfer, request.transferTimeoutSeconds, [&]() -> std::optional<std::string> {
        if (sink.exceeded) return tooLarge(*maximumBodySize);
        if (sink.error == 0) return std::nullopt;
        return std::string("The download could not be written: ") + std::strerror(sink.error);
    });
}

}  // namespace platform
