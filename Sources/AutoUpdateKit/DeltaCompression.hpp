#pragma once
// zstd frames for deltas: a file compressed alone, or against an old file given as
// the frame's reference prefix, which zstd matches like earlier input ("patch from").

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace autoupdatekit::DeltaCompression {

// One frame holding content, matched against reference when it is not empty, with a
// window that covers the reference and windowContent bytes (the content's size, or the
// size of the file a difference patch rebuilds): what the decoder allows.
std::string compress(std::string_view content, std::string_view reference, int level, std::uint64_t windowContent);

// Decodes one frame fed in blocks, handing the output to consume in blocks. The window
// the frame may ask for is bounded by the reference and windowContent, so a frame cannot
// make the decoder take more memory than those files need.
class FrameDecoder {
public:
    FrameDecoder(std::string_view reference, std::uint64_t windowContent,
                 std::function<void(const char* bytes, std::size_t size)> consume);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Throws std::runtime_error for a frame zstd refuses or bytes after its end.
    void feed(const char* bytes, std::size_t size);
    // Throws unless the frame ended exactly with the bytes fed.
    void finish() const;

private:
    struct Context;
    std::unique_ptr<Context> context_;
    std::function<void(const char*, std::size_t)> consume_;
    std::string output_;
    bool ended_ = false;
};

}  // namespace autoupdatekit::DeltaCompression
