#include "Platform/CodeSealLayout.hpp"

#include <cstdint>

namespace platform::codesigning {
namespace {

constexpr std::string_view header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n";
constexpr std::string_view trailer = "</dict>\n</plist>\n";

// Matches the written layout line by line; every step either consumes what it expects
// or reports a mismatch, so a read ends within the length of the bytes.
class LayoutReader {
public:
    explicit LayoutReader(std::string_view bytes) : rest_(bytes) {}

    bool atEnd() const { return rest_.empty(); }

    bool literal(std::string_view expected) {
        if (rest_.substr(0, expected.size()) != expected) return false;
        rest_.remove_prefix(expected.size());
        return true;
    }

    // Whole lines match or leave the reader where it was, so a caller may try another.
    bool line(int depth, std::string_view text) {
        std::string_view start = rest_;
        if (indent(depth) && literal(text) && literal("\n")) return true;
        rest_ = start;
        return false;
    }

    // "<array/>" (false) or "<array>" (true), after the key at the same depth.
    std::optional<bool> arrayStart(int depth) {
        if (line(depth, "<array/>")) return false;
        if (line(depth, "<array>")) return true;
        return std::nullopt;
    }

    // The array at this depth ends here; its entries are dictionaries one level deeper.
    bool arrayEnds(int depth) { return line(depth, "</array>"); }

    std::optional<std::string> string(int depth, std::string_view key) {
        if (!keyLine(depth, key)) return std::nullopt;
        return value(depth);
    }

    // The string value on the line after its key.
    std::optional<std::string> value(int depth) {
        if (!indent(depth) || !literal("<string>")) return std::nullopt;
        std::size_t end = rest_.find('<');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view text = rest_.substr(0, end);
        for (char byte : text) {
            // Only text the XML reader takes byte for byte: no entities, no markup, no
            // line ends to normalise, nothing outside ASCII to validate.
            if (byte < 0x20 || byte > 0x7e || byte == '&' || byte == '>') return std::nullopt;
        }
        rest_.remove_prefix(end);
        if (!literal("</string>\n")) return std::nullopt;
        return std::string(text);
    }

    std::optional<std::int64_t> integer(int depth, std::string_view key) {
        if (!keyLine(depth, key) || !indent(depth) || !literal("<integer>")) return std::nullopt;
        std::size_t digits = 0;
        std::int64_t value = 0;
        // Plain decimal as written: no sign, no leading zero, small enough for a mode.
        while (digits < rest_.size() && rest_[digits] >= '0' && rest_[digits] <= '9' && digits < 9) {
            value = value * 10 + (rest_[digits] - '0');
            ++digits;
        }
        if (digits == 0 || (digits > 1 && rest_[0] == '0')) return std::nullopt;
        rest_.remove_prefix(digits);
        if (!literal("</integer>\n")) return std::nullopt;
        return value;
    }

    bool keyLine(int depth, std::string_view key) {
        std::string_view start = rest_;
        if (indent(depth) && literal("<key>") && literal(key) && literal("</key>\n")) return true;
        rest_ = start;
        return false;
    }

private:
    bool indent(int depth) {
        for (int level = 0; level < depth; ++level) {
            if (!literal("\t")) return false;
        }
        return true;
    }

    std::string_view rest_;
};

std::optional<SealedEntry> fileRecord(LayoutReader& reader) {
    if (!reader.line(2, "<dict>")) return std::nullopt;
    auto content = reader.string(3, "content");
    auto mode = content ? reader.integer(3, "mode") : std::nullopt;
    auto path = mode ? reader.string(3, "path") : std::nullopt;
    auto type = path ? reader.string(3, "type") : std::nullopt;
    if (!type || !reader.line(2, "</dict>")) return std::nullopt;
    auto typeValue = sealedEntryTypeNamed(*type);
    if (!typeValue || *mode > 07777) return std::nullopt;
    return SealedEntry{std::move(*path), *typeValue, static_cast<unsigned>(*mode), std::move(*content)};
}

std::optional<NestedSeal> nestedRecord(LayoutReader& reader) {
    if (!reader.line(2, "<dict>")) return std::nullopt;
    auto path = reader.string(3, "path");
    auto digest = path ? reader.string(3, "seal") : std::nullopt;
    if (!digest || !reader.line(2, "</dict>")) return std::nullopt;
    return NestedSeal{std::move(*path), std::move(*digest)};
}

// The records of the array under key, each read by readRecord; false on a mismatch.
template <typename Record, typename ReadRecord>
bool readArray(LayoutReader& reader, std::string_view key, std::vector<Record>& records, ReadRecord readRecord) {
    if (!reader.keyLine(1, key)) return false;
    auto hasRecords = reader.arrayStart(1);
    if (!hasRecords) return false;
    if (!*hasRecords) return true;
    while (!reader.arrayEnds(1)) {
        auto record = readRecord(reader);
        if (!record) return false;
        records.push_back(std::move(*record));
    }
    return !records.empty();
}

// An optional base64 value: absent, decoded into target, or a mismatch (false).
template <typename Target>
bool readBase64(LayoutReader& reader, std::string_view key, Target& target) {
    if (!reader.keyLine(1, key)) return true;
    auto text = reader.value(1);
    auto decoded = text ? base64Decode(*text) : std::nullopt;
    if (!decoded) return false;
    target = std::move(*decoded);
    return true;
}

}  // namespace

std::optional<CodeSeal> readWrittenSealLayout(std::string_view bytes) {
    LayoutReader reader(bytes);
    CodeSeal seal;
    if (!reader.literal(header) || !readArray(reader, "files", seal.entries, fileRecord)) return std::nullopt;
    auto identifier = reader.string(1, "identifier");
    if (!identifier || !readArray(reader, "nested", seal.nested, nestedRecord)) return std::nullopt;
    seal.identifier = std::move(*identifier);
    if (!readBase64(reader, "publicKey", seal.publicKey) || !readBase64(reader, "signature", seal.signature)) {
        return std::nullopt;
    }
    if (reader.keyLine(1, "team")) {
        auto team = reader.value(1);
        if (!team) return std::nullopt;
        seal.teamIdentifier = std::move(*team);
    }
    auto version = reader.integer(1, "version");
    if (!version || *version != 1 || !reader.literal(trailer) || !reader.atEnd()) return std::nullopt;
    return seal;
}

}  // namespace platform::codesigning
