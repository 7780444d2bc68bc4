#include "DeltaFormat.hpp"

#include "Platform/SystemError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace autoupdatekit::DeltaFormat {
namespace {

constexpr std::size_t blockSize = 64 * 1024;

[[noreturn]] void truncated() { throw std::runtime_error("The delta ends in the middle of a record."); }

template <typename Integer>
void appendLittleEndian(std::string& bytes, Integer value) {
    for (std::size_t index = 0; index < sizeof value; ++index) bytes.push_back(static_cast<char>((value >> (8 * index)) & 0xff));
}

}  // namespace

void Encoder::u32(std::uint32_t value) { appendLittleEndian(bytes_, value); }
void Encoder::u64(std::uint64_t value) { appendLittleEndian(bytes_, value); }

void Encoder::text(std::string_view value) {
    u32(static_cast<std::uint32_t>(value.size()));
    bytes_.append(value);
}

void Encoder::digest(const platform::Sha256Digest& value) { bytes_.append(value.begin(), value.end()); }

void Encoder::data(std::string_view frame) {
    u64(frame.size());
    bytes_.append(frame);
}

void Encoder::header(const Header& header) {
    bytes_.append(magic);
    u32(version);
    digest(header.fromTree);
    digest(header.toTree);
    text(header.fromVersion);
    text(header.fromBuild);
    u64(header.recordCount);
}

void Decoder::fill() {
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, remaining_)));
    position_ = 0;
    std::size_t filled = 0;
    while (filled < buffer_.size()) {
        ssize_t count = ::read(fd_, buffer_.data() + filled, buffer_.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) platform::throwSystemError("read delta");
        if (count == 0) truncated();  // the file shrank since it was measured
        filled += static_cast<std::size_t>(count);
    }
    remaining_ -= filled;
}

void Decoder::read(char* into, std::size_t size) {
    while (size > 0) {
        if (position_ == buffer_.size()) {
            if (remaining_ == 0) truncated();
            fill();
        }
        std::size_t step = std::min(size, buffer_.size() - position_);
        std::memcpy(into, buffer_.data() + position_, step);
        position_ += step;
        into += step;
        size -= step;
    }
}

std::uint8_t Decoder::u8() {
    char byte = 0;
    read(&byte, 1);
    return static_cast<std::uint8_t>(byte);
}

std::uint32_t Decoder::u32() {
    unsigned char bytes[4];
    read(reinterpret_cast<char*>(bytes), sizeof bytes);
    std::uint32_t value = 0;
    for (int index = 3; index >= 0; --index) value = value << 8 | bytes[index];
    return value;
}

std::uint64_t Decoder::u64() {
    std::uint64_t low = u32();
    return low | std::uint64_t{u32()} << 32;
}

std::string Decoder::text(std::size_t maximumLength) {
    std::uint32_t length = u32();
    if (length > maximumLength) throw std::runtime_error("The delta holds a text longer than " + std::to_string(maximumLength) + " bytes.");
    std::string value(length, '\0');
    read(value.data(), length);
    return value;
}

platform::Sha256Digest Decoder::digest() {
    platform::Sha256Digest value{};
    read(reinterpret_cast<char*>(value.data()), value.size());
    return value;
}

void Decoder::data(const std::function<void(const char* bytes, std::size_t size)>& consume) {
    std::uint64_t length = u64();
    while (length > 0) {
        if (position_ == buffer_.size()) {
            if (remaining_ == 0) truncated();
            fill();
        }
        std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer_.size() - position_));
        consume(buffer_.data() + position_, step);
        position_ += step;
        length -= step;
    }
}

Header Decoder::header(std::size_t maximumTextLength) {
    std::string start(magic.size(), '\0');
    read(start.data(), start.size());
    if (start != magic) throw std::runtime_error("The file is not a delta.");
    if (std::uint32_t found = u32(); found != version) {
        throw std::runtime_error("The delta has format version " + std::to_string(found) + ", not " + std::to_string(version) + ".");
    }
    Header header;
    header.fromTree = digest();
    header.toTree = digest();
    header.fromVersion = text(maximumTextLength);
    header.fromBuild = text(maximumTextLength);
    header.recordCount = u64();
    return header;
}

}  // namespace autoupdatekit::DeltaFormat
