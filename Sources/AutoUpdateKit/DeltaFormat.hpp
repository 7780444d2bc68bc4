#pragma once
// The delta file, version 1: a header, then one record per entry of the new bundle in
// ascending path order (a folder before what it holds), the removals, and an end
// record, so it is written and applied file by file. Integers are little-endian; a
// text is a 32-bit length and its bytes; a digest is 32 raw SHA-256 bytes; data is a
// 64-bit length and one zstd frame.
//
//   header  "AUKDELTA", u32 version, digest from-tree, digest to-tree,
//           text from-version, text from-build, u64 record count (end excluded)
//   folder  u8 1, text path, u32 mode
//   link    u8 2, text path, text target
//   copy    u8 3, text path, u32 mode, u64 size, digest, text old path
//   patch   u8 4, text path, u32 mode, u64 size, digest, text old path, data (the old
//           file as the frame's reference prefix)
//   whole   u8 5, text path, u32 mode, u64 size, digest, data
//   remove  u8 6, text path (an old entry the new bundle lacks; nothing to do, since
//           the new bundle is built from nothing, but it keeps the delta self-describing)
//   difference  u8 7, as patch, but the frame holds a difference patch against the old
//           file (DifferencePatch.hpp), for native code
//   same    u8 8, text path, u32 mode (a file whose content is the old file's at the
//           same path: its size and digest are those of the checked installed tree,
//           so most records of a minor release cost a path and a mode)
//   end     u8 0

#include "Platform/Crypto.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace autoupdatekit::DeltaFormat {

constexpr std::string_view magic = "AUKDELTA";
constexpr std::uint32_t version = 1;

enum class Operation : std::uint8_t { end = 0, folder = 1, link = 2, copy = 3, patch = 4, whole = 5, remove = 6, difference = 7, same = 8 };

struct Header {
    platform::Sha256Digest fromTree{};
    platform::Sha256Digest toTree{};
    std::string fromVersion;
    std::string fromBuild;
    std::uint64_t recordCount = 0;
};

// Appends fields to a byte string, which the writer flushes record by record.
class Encoder {
public:
    void u8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void text(std::string_view value);
    void digest(const platform::Sha256Digest& value);
    void data(std::string_view frame);
    void header(const Header& header);

    std::string take() { return std::exchange(bytes_, {}); }

private:
    std::string bytes_;
};

// Reads fields from a descriptor, never past the size the file had when opened; a
// field that would run past it is a truncated delta.
class Decoder {
public:
    Decoder(int fd, std::uint64_t size) : fd_(fd), remaining_(size) {}

    std::uint8_t u8();
    std::uint32_t u32();
    std::uint64_t u64();
    std::string text(std::size_t maximumLength);
    platform::Sha256Digest digest();
    // Hands a data field's frame to consume in blocks.
    void data(const std::function<void(const char* bytes, std::size_t size)>& consume);
    Header header(std::size_t maximumTextLength);
    bool atEnd() const noexcept { return remaining_ == 0 && position_ == buffer_.size(); }

private:
    void read(char* into, std::size_t size);
    void fill();

    int fd_;
    std::uint64_t remaining_;
    std::vector<char> buffer_;
    std::size_t position_ = 0;
};

}  // namespace autoupdatekit::DeltaFormat
