// Feeds arbitrary bytes to the property-list reader (XML and binary): it must read or
// throw its own error, and whatever it reads must write and read back to the same text.

#include "Platform/PropertyList.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        auto value = platform::PropertyList::read(bytes);
        std::string xml = platform::PropertyList::xml(value);
        if (platform::PropertyList::xml(platform::PropertyList::read(xml)) != xml) std::abort();
        std::string binary = platform::PropertyList::binary(value);
        if (platform::PropertyList::xml(platform::PropertyList::read(binary)) != xml) std::abort();
    } catch (const platform::PropertyListError&) {
    }
    return 0;
}
