#include "DifferencePatch.hpp"

#include <algorithm>
#include <stdexcept>

namespace autoupdatekit::DifferencePatch {
namespace {

std::uint64_t littleEndian(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index) value = value << 8 | bytes[index];
    return value;
}

[[noreturn]] void outside() { throw std::runtime_error("A difference patch reaches outside the old file."); }

}  // namespace

void Decoder::startBlock() {
    differenceLeft_ = littleEndian(header_);
    extraLeft_ = littleEndian(header_ + 8);
    seek_ = static_cast<std::int64_t>(littleEndian(header_ + 16));
    if (differenceLeft_ > old_.size() - oldPosition_) outside();
    headerFilled_ = 0;
    inBlock_ = true;
}

void Decoder::feed(const char* bytes, std::size_t size) {
    char out[4096];
    while (size > 0) {
        if (!inBlock_) {
            std::size_t step = std::min(size, sizeof header_ - headerFilled_);
            std::copy_n(bytes, step, header_ + headerFilled_);
            headerFilled_ += step, bytes += step, size -= step;
            if (headerFilled_ == sizeof header_) startBlock();
        } else if (differenceLeft_ > 0) {
            std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>({size, differenceLeft_, sizeof out}));
            for (std::size_t index = 0; index < step; ++index) {
                out[index] = static_cast<char>(static_cast<unsigned char>(old_[oldPosition_ + index]) + static_cast<unsigned char>(bytes[index]));
            }
            output_(out, step);
            oldPosition_ += step, differenceLeft_ -= step, bytes += step, size -= step;
        } else if (extraLeft_ > 0) {
            std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(size, extraLeft_));
            output_(bytes, step);
            extraLeft_ -= step, bytes += step, size -= step;
        }
        if (inBlock_ && differenceLeft_ == 0 && extraLeft_ == 0) {
            // The seek may go back as well as forward, but never outside the old file.
            auto position = static_cast<std::int64_t>(oldPosition_);
            if (seek_ < -position || seek_ > static_cast<std::int64_t>(old_.size()) - position) outside();
            oldPosition_ = static_cast<std::uint64_t>(position + seek_);
            inBlock_ = false;
        }
    }
}

void Decoder::finish() const {
    if (inBlock_ || headerFilled_ != 0) throw std::runtime_error("A difference patch ends inside a block.");
}

}  // namespace autoupdatekit::DifferencePatch
