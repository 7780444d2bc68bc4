#pragma once
// How far a download has come. The observer is called at most about ten times a
// second, and once more with finished set when the last byte has arrived.

#include <cstdint>
#include <functional>
#include <optional>

namespace autoupdatekit {

struct AutoUpdateProgress {
    // A resumed download counts the bytes it already had once.
    std::uint64_t receivedBytes = 0;
    // The signed size when the manifest gives one, else what the server announces.
    std::optional<std::uint64_t> totalBytes = std::nullopt;
    // Bytes a second since the download began; 0 until a measure exists.
    double bytesPerSecond = 0;
    bool finished = false;

    bool operator==(const AutoUpdateProgress&) const = default;
};

using AutoUpdateProgressObserver = std::function<void(const AutoUpdateProgress& progress)>;

}  // namespace autoupdatekit
