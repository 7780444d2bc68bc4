#include "Platform/PropertyList.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace platform {
namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr double referenceDateOffset = 978307200.0;
// Property lists are configuration and messages, never bulk data.
constexpr std::size_t maximumSize = 64 * 1024 * 1024;
constexpr int maximumDepth = 256;

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

struct MallocDeleter {
    void operator()(char* text) const { std::free(text); }
};
using MallocText = std::unique_ptr<char, MallocDeleter>;

PropertyValue fromNode(plist_t node, int depth);

// The list reader aborts the process on text holding a NUL character, so such lists are
// found and refused before they reach it: in XML, any NUL byte (never valid there); in
// the binary form, an ASCII or UTF-16 string object holding one, or whose length is not
// written as a 1, 2, 4 or 8-byte integer (the reader takes other sizes its own way).
// Objects out of bounds are left for the reader to refuse.
std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < size; ++index) value = value << 8 | static_cast<std::uint8_t>(bytes[at + index]);
    return value;
}

bool stringObjectIsUnsafe(std::string_view bytes, std::uint64_t offset) {
    if (offset >= bytes.size()) return false;
    auto marker = static_cast<std::uint8_t>(bytes[offset]);
    unsigned type = marker >> 4;
    if (type != 0x5 && type != 0x6) return false;
    std::uint64_t count = marker & 0x0f;
    std::uint64_t start = offset + 1;
    if (count == 0x0f) {  // the count follows as an integer object
        if (start >= bytes.size()) return false;
        auto countMarker = static_cast<std::uint8_t>(bytes[start]);
        if ((countMarker >> 4) != 0x1 || (countMarker & 0x0f) > 3) return true;
        std::size_t size = std::size_t{1} << (countMarker & 0x0f);
        if (start + 1 + size > bytes.size()) return false;
        count = bigEndian(bytes, start + 1, size);
        start += 1 + size;
    }
    std::uint64_t unit = type == 0x6 ? 2 : 1;
    if (count > (bytes.size() - start) / unit) return false;
    for (std::uint64_t at = start; at < start + count * unit; at += unit) {
        if (bigEndian(bytes, static_cast<std::size_t>(at), static_cast<std::size_t>(unit)) == 0) return true;
    }
    return false;
}

bool holdsUnsafeText(std::string_view bytes) {
    constexpr std::size_t trailerSize = 32;
    if (bytes.substr(0, 6) != "bplist") return bytes.find('\0') != std::string_view::npos;
    if (bytes.size() < 8 + trailerSize) return false;
    std::size_t trailer = bytes.size() - trailerSize;
    std::size_t offsetSize = static_cast<std::uint8_t>(bytes[trailer + 6]);
    std::uint64_t objectCount = bigEndian(bytes, trailer + 8, 8);
    std::uint64_t tableOffset = bigEndian(bytes, trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || tableOffset > trailer || objectCount > (trailer - tableOffset) / offsetSize) return false;
    for (std::uint64_t index = 0; index < objectCount; ++index) {
        auto entry = static_cast<std::size_t>(tableOffset + index * offsetSize);
        if (stringObjectIsUnsafe(bytes, bigEndian(bytes, entry, offsetSize))) return true;
    }
    return false;
}

// Property-list text is Unicode; bytes that are not UTF-8 (a binary list may carry any)
// would be written back as different text, so they are refused on reading.
std::string checkedText(const char* text) {
    std::string value(text);
    if (!isValidUTF8(value)) throw PropertyListError("property list holds text that is not UTF-8");
    return value;
}

PropertyDictionary dictionaryFromNode(plist_t node, int depth) {
    PropertyDictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    std::unique_ptr<void, decltype(&std::free)> iteratorOwner(iterator, &std::free);
    while (true) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator, &rawKey, &item);
        MallocText key(rawKey);
        if (item == nullptr) break;
        dictionary.insert_or_assign(checkedText(key ? key.get() : ""), fromNode(item, depth + 1));
    }
    return dictionary;
}

PropertyValue fromNode(plist_t node, int depth) {
    if (depth > maximumDepth) throw PropertyListError("property list is nested too deeply");
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return PropertyValue(flag != 0);
    }
    case PLIST_UINT: {
        // Integers are stored as 64 raw bits; negative values come back as themselves.
        std::uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        return PropertyValue(static_cast<std::int64_t>(bits));
    }
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        return PropertyValue(real);
    }
    case PLIST_STRING: {
        char* raw = nullptr;
        plist_get_string_val(node, &raw);
        MallocText text(raw);
        return PropertyValue(checkedText(text ? text.get() : ""));
    }
    case PLIST_DATA: {
        char* raw = nullptr;
        std::uint64_t length = 0;
        plist_get_data_val(node, &raw, &length);
        MallocText bytes(raw);
        const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes.get());
        return PropertyValue(bytes ? PropertyData(begin, begin + length) : PropertyData{});
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0;
        std::int32_t microseconds = 0;  // dropped: see PropertyDate
        plist_get_date_val(node, &seconds, &microseconds);
        return PropertyValue(PropertyDate{referenceDateOffset + seconds});
    }
    case PLIST_ARRAY: {
        PropertyArray array;
        std::uint32_t count = plist_array_get_size(node);
        for (std::uint32_t index = 0; index < count; ++index) {
            array.push_back(fromNode(plist_array_get_item(node, index), depth + 1));
        }
        return PropertyValue(std::move(array));
    }
    case PLIST_DICT:
        return PropertyValue(dictionaryFromNode(node, depth));
    default:
        throw PropertyListError("property list holds an unsupported value type");
    }
}

plist_t toNode(const PropertyValue& value);

struct NodeBuilder {
    plist_t operator()(const std::string& text) const { return plist_new_string(text.c_str()); }
    plist_t operator()(std::int64_t integer) const { return plist_new_uint(static_cast<std::uint64_t>(integer)); }
    plist_t operator()(double real) const { return plist_new_real(real); }
    plist_t operator()(bool flag) const { return plist_new_bool(flag ? 1 : 0); }
    plist_t operator()(const PropertyDate& date) const {
        double sinceReference = date.secondsSince1970 - referenceDateOffset;
        double whole = std::floor(sinceReference);
        if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max()) {
            throw PropertyListError("date out of the property-list range");
        }
        return plist_new_date(static_cast<std::int32_t>(whole), 0);
    }
    plist_t operator()(const PropertyData& data) const {
        return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    plist_t operator()(const PropertyArray& array) const {
        Node node(plist_new_array());
        for (const auto& item : array) plist_array_append_item(node.get(), toNode(item));
        return node.release();
    }
    plist_t operator()(const PropertyDictionary& dictionary) const {
        Node node(plist_new_dict());
        for (const auto& [key, item] : dictionary) plist_dict_set_item(node.get(), key.c_str(), toNode(item));
        return node.release();
    }
};

plist_t toNode(const PropertyValue& value) { return std::visit(NodeBuilder{}, value.storage); }

template <void (*Serialize)(plist_t, char**, std::uint32_t*), void (*Free)(char*)>
std::string serialize(const PropertyValue& value) {
    Node node(toNode(value));
    char* raw = nullptr;
    std::uint32_t length = 0;
    Serialize(node.get(), &raw, &length);
    if (raw == nullptr) throw PropertyListError("property list could not be written");
    std::string bytes(raw, length);
    Free(raw);
    return bytes;
}

}  // namespace

namespace PropertyList {

PropertyValue read(std::string_view bytes) {
    if (bytes.empty()) throw PropertyListError("property list is empty");
    if (bytes.size() > maximumSize) throw PropertyListError("property list is too large");
    if (holdsUnsafeText(bytes)) throw PropertyListError("property list holds text with a NUL character or a malformed length");
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    Node node(raw);
    if (!node) throw PropertyListError("data is not a valid property list");
    return fromNode(node.get(), 0);
}

PropertyValue readFile(const std::string& path) {
    std::string bytes = readWholeFile(path);
    try {
        return read(bytes);
    } catch (const PropertyListError& error) {
        throw PropertyListError(path + ": " + error.what());
    }
}

std::string xml(const PropertyValue& value) { return serialize<plist_to_xml, plist_to_xml_free>(value); }

std::string binary(const PropertyValue& value) { return serialize<plist_to_bin, plist_to_bin_free>(value); }

const std::string* stringValue(const PropertyDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : found->second.getIf<std::string>();
}

}  // namespace PropertyList
}  // namespace platform
