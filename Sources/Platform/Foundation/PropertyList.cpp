#include "Platform/PropertyList.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"

#include <algorithm>
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

// The list library parses binary lists by recursion and builds a fresh node for every
// reference (a shared object is copied each time it is named), and frees its trees by
// recursion: a list nested some hundred thousand levels deep overflows the stack of the
// thread that reads it, and a small list of shared references can name more nodes than
// memory holds. So each list is walked first, without recursion (an explicit stack),
// and refused when it nests deeper than maximumDepth or names more values than it has
// bytes (plus a small allowance; a list that holds no more than it says never does)
// or than the caller allows. Cycles end at the value bound.
constexpr std::uint64_t valueAllowance = 64;

[[noreturn]] void refuseStructure(const char* why) { throw PropertyListError(std::string("property list ") + why); }

struct ValueCounter {
    std::uint64_t limit;
    std::uint64_t count = 0;
    // Counts one value at depth (the top value is at 0).
    void add(std::size_t depth) {
        if (++count > limit) refuseStructure("holds too many values");
        if (depth > static_cast<std::size_t>(maximumDepth)) refuseStructure("is nested too deeply");
    }
};

// The binary form, read as the library reads it: a trailer of 32 bytes at the end (sizes
// of offsets and references, object count, top object, offset table), objects between
// the 8-byte header and the trailer. Arrays (0xA), sets (0xC) and dictionaries (0xD, keys
// then values) hold references; a count of 15 in the marker means that an integer object
// holding the count follows. What the library would refuse anyway is refused here.
void checkBinaryStructure(std::string_view bytes, ValueCounter& values) {
    constexpr std::size_t headerSize = 8;
    constexpr std::size_t trailerSize = 32;
    if (bytes.size() < headerSize + trailerSize) return;  // the library refuses it
    const std::size_t trailer = bytes.size() - trailerSize;
    const std::size_t offsetSize = static_cast<std::uint8_t>(bytes[trailer + 6]);
    const std::size_t referenceSize = static_cast<std::uint8_t>(bytes[trailer + 7]);
    const std::uint64_t objectCount = bigEndian(bytes, trailer + 8, 8);
    const std::uint64_t topObject = bigEndian(bytes, trailer + 16, 8);
    const std::uint64_t tableOffset = bigEndian(bytes, trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8 || objectCount == 0 ||
        topObject >= objectCount || tableOffset < headerSize || tableOffset >= trailer ||
        objectCount > (trailer - tableOffset) / offsetSize) {
        refuseStructure("is not a valid binary list");
    }
    struct Pending {
        std::size_t nextReference;  // where the next reference of this container is
        std::uint64_t remaining;    // references still to follow
    };
    std::vector<Pending> stack;  // one entry per open container: at most maximumDepth + 1
    auto visit = [&](std::uint64_t object) {
        values.add(stack.size());
        if (object >= objectCount) refuseStructure("refers to an object that does not exist");
        std::uint64_t offset = bigEndian(bytes, static_cast<std::size_t>(tableOffset + object * offsetSize), offsetSize);
        if (offset < headerSize || offset >= trailer) refuseStructure("refers to an object outside its data");
        auto marker = static_cast<std::uint8_t>(bytes[offset]);
        unsigned type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD) return;
        std::uint64_t count = marker & 0x0f;
        std::size_t at = static_cast<std::size_t>(offset) + 1;
        if (count == 0x0f) {
            if (at >= trailer) refuseStructure("has a container count outside its data");
            auto countMarker = static_cast<std::uint8_t>(bytes[at]);
            std::size_t size = std::size_t{1} << (countMarker & 0x0f);
            if ((countMarker >> 4) != 0x1 || size > 8 || size > trailer - at - 1) refuseStructure("has a malformed container count");
            count = bigEndian(bytes, at + 1, size);
            at += 1 + size;
        }
        std::uint64_t references = type == 0xD ? 2 * count : count;
        if (count > (trailer - at) / referenceSize || references > (trailer - at) / referenceSize) {
            refuseStructure("has a container larger than its data");
        }
        if (references > 0) stack.push_back({at, references});
    };
    visit(topObject);
    while (!stack.empty()) {
        Pending& top = stack.back();
        if (top.remaining == 0) {
            stack.pop_back();
            continue;
        }
        std::uint64_t object = bigEndian(bytes, top.nextReference, referenceSize);
        top.nextReference += referenceSize;
        --top.remaining;
        visit(object);  // may grow the stack: top is not used after this
    }
}

// The XML form, scanned once over its markup. Every element but <plist> counts as a
// value at the depth of the elements open around it, the outermost one (<plist>) not
// counted; closing tags must match. Wherever two
// readings of the markup could differ (a "<" or an unclosed quote inside a tag, a "["
// in a declaration, a comment, CDATA section or processing instruction holding "<" or
// ">"), the list is refused, so the library never sees more nesting than counted here.
void checkXMLStructure(std::string_view text, ValueCounter& values) {
    std::vector<std::string_view> open;
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        std::size_t end = text.find('>', at + 1);
        if (end == std::string_view::npos) refuseStructure("has an unclosed tag");
        std::string_view inside = text.substr(at + 1, end - at - 1);
        at = end + 1;
        if (inside.find('<') != std::string_view::npos) refuseStructure("has a tag holding \"<\"");
        auto framed = [&](std::string_view opening, std::string_view closing) {
            return inside.size() >= opening.size() + closing.size() && inside.substr(0, opening.size()) == opening &&
                   inside.substr(inside.size() - closing.size()) == closing;
        };
        if (inside.substr(0, 3) == "!--") {
            if (!framed("!--", "--")) refuseStructure("has a comment holding \">\"");
            continue;
        }
        if (inside.substr(0, 8) == "![CDATA[") {
            if (!framed("![CDATA[", "]]")) refuseStructure("has a CDATA section holding \">\"");
            continue;
        }
        char quote = 0;
        for (char character : inside) {
            if (quote == 0 && (character == '"' || character == '\'')) quote = character;
            else if (character == quote) quote = 0;
        }
        if (quote != 0) refuseStructure("has a tag with an unclosed quote");
        if (inside.substr(0, 1) == "?") {
            if (!framed("?", "?")) refuseStructure("has a processing instruction holding \">\"");
            continue;
        }
        if (inside.substr(0, 1) == "!") {
            if (inside.find('[') != std::string_view::npos) refuseStructure("has a declaration with an internal subset");
            continue;
        }
        bool closing = inside.substr(0, 1) == "/";
        std::string_view name = inside.substr(closing ? 1 : 0);
        name = name.substr(0, name.find_first_of(" \t\r\n/"));
        if (name.empty()) refuseStructure("has a tag without a name");
        if (closing) {
            if (open.empty() || open.back() != name) refuseStructure("has a closing tag that does not match");
            open.pop_back();
            continue;
        }
        std::size_t depth = open.empty() ? 0 : open.size() - 1;  // the enclosing <plist> is no level
        if (depth > static_cast<std::size_t>(maximumDepth)) refuseStructure("is nested too deeply");
        if (name != "plist") values.add(depth);
        if (inside.back() != '/') open.push_back(name);
    }
}

void checkStructure(std::string_view bytes, std::uint64_t maximumValues) {
    ValueCounter values{std::min<std::uint64_t>(maximumValues, bytes.size() + valueAllowance)};
    if (bytes.substr(0, 8) == "bplist00") {
        checkBinaryStructure(bytes, values);
    } else {
        checkXMLStructure(bytes, values);
    }
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

PropertyValue read(std::string_view bytes) { return read(bytes, std::numeric_limits<std::size_t>::max()); }

PropertyValue read(std::string_view bytes, std::size_t maximumValues) {
    if (bytes.empty()) throw PropertyListError("property list is empty");
    if (bytes.size() > maximumSize) throw PropertyListError("property list is too large");
    checkStructure(bytes, maximumValues);
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
