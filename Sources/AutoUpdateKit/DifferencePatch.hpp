#pragma once
// Difference patches: for native code, whose rebuilt files keep most bytes in place but
// shift the addresses inside them, a new file is mostly old bytes plus small byte-wise
// differences. The patch is a run of blocks, each
//   u64 difference length, u64 extra length, i64 old seek,
//   difference bytes (added byte by byte to the old bytes from the old position on),
//   extra bytes (copied as they are),
// after which the old position moves on by the difference length and the seek. The
// differences are mostly zeros, which zstd compresses to almost nothing.

#include <cstdint>
#include <functional>
#include <string_view>

namespace autoupdatekit::DifferencePatch {

// Rebuilds the new file from the patch bytes fed in any pieces, handing its bytes to
// output as they come. Throws std::runtime_error for a block that reaches outside the
// old file or a patch that ends inside a block.
class Decoder {
public:
    Decoder(std::string_view old, std::function<void(const char* bytes, std::size_t size)> output)
        : old_(old), output_(std::move(output)) {}

    void feed(const char* bytes, std::size_t size);
    void finish() const;

private:
    void startBlock();

    std::string_view old_;
    std::function<void(const char*, std::size_t)> output_;
    unsigned char header_[24] = {};
    std::size_t headerFilled_ = 0;
    std::uint64_t differenceLeft_ = 0;
    std::uint64_t extraLeft_ = 0;
    std::int64_t seek_ = 0;
    std::uint64_t oldPosition_ = 0;
    bool inBlock_ = false;
};

}  // namespace autoupdatekit::DifferencePatch
