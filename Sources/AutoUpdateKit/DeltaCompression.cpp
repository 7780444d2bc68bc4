#include "DeltaCompression.hpp"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <zstd.h>

namespace autoupdatekit::DeltaCompression {
namespace {

void check(std::size_t result, const char* operation) {
    if (ZSTD_isError(result)) throw std::runtime_error(std::string(operation) + ": " + ZSTD_getErrorName(result));
}

// zstd's window sizes on 64-bit systems, which its stable header does not name.
constexpr int smallestWindowLog = 10;
constexpr int largestWindowLog = 31;

// The log2 of a window that covers reference and content together.
int windowLogFor(std::uint64_t size) {
    int log = static_cast<int>(std::bit_width(std::max<std::uint64_t>(size, 1)));
    return std::clamp(log, smallestWindowLog, largestWindowLog);
}

}  // namespace

std::string compress(std::string_view content, std::string_view reference, int level, std::uint64_t windowContent) {
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!context) throw std::bad_alloc();
    check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level), "zstd level");
    check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 0), "zstd checksum");  // the record's digest checks
    check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLogFor(reference.size() + windowContent)), "zstd window");
    if (!reference.empty()) {
        check(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1), "zstd long matching");
        check(ZSTD_CCtx_refPrefix(context.get(), reference.data(), reference.size()), "zstd reference");
    }
    std::string frame(ZSTD_compressBound(content.size()), '\0');
    std::size_t size = ZSTD_compress2(context.get(), frame.data(), frame.size(), content.data(), content.size());
    check(size, "zstd compress");
    frame.resize(size);
    return frame;
}

struct FrameDecoder::Context {
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> handle{ZSTD_createDCtx(), ZSTD_freeDCtx};
};

FrameDecoder::FrameDecoder(std::string_view reference, std::uint64_t windowContent,
                           std::function<void(const char* bytes, std::size_t size)> consume)
    : context_(std::make_unique<Context>()), consume_(std::move(consume)), output_(ZSTD_DStreamOutSize(), '\0') {
    ZSTD_DCtx* handle = context_->handle.get();
    if (!handle) throw std::bad_alloc();
    check(ZSTD_DCtx_setParameter(handle, ZSTD_d_windowLogMax, windowLogFor(reference.size() + windowContent)), "zstd window");
    if (!reference.empty()) check(ZSTD_DCtx_refPrefix(handle, reference.data(), reference.size()), "zstd reference");
}

FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::feed(const char* bytes, std::size_t size) {
    ZSTD_inBuffer input{bytes, size, 0};
    while (input.pos < input.size) {
        if (ended_) throw std::runtime_error("The delta has bytes after the end of a compressed file.");
        // A full output buffer may hold back more output for the same input: drain it.
        ZSTD_outBuffer output{output_.data(), output_.size(), output_.size()};
        while (!ended_ && output.pos == output.size) {
            output.pos = 0;
            std::size_t result = ZSTD_decompressStream(context_->handle.get(), &output, &input);
            check(result, "zstd decompress");
            if (output.pos > 0) consume_(output_.data(), output.pos);
            ended_ = result == 0;
        }
    }
}

void FrameDecoder::finish() const {
    if (!ended_) throw std::runtime_error("A compressed file in the delta ends early.");
}

}  // namespace autoupdatekit::DeltaCompression
