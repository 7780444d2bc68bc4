#include "Platform/SystemVersion.hpp"

#include "Platform/FileSystem.hpp"

#include <charconv>
#include <string>

namespace platform {
namespace {

std::string_view versionIdValue(std::string_view text) {
    constexpr std::string_view key = "VERSION_ID=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (line.substr(0, key.size()) == key) {
            std::string_view value = line.substr(key.size());
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

OperatingSystemVersion parseOSRelease(std::string_view text) {
    std::string_view value = versionIdValue(text);
    std::int64_t parts[3] = {0, 0, 0};
    for (auto& part : parts) {
        if (value.empty()) break;
        std::size_t dot = value.find('.');
        std::string_view component = value.substr(0, dot);
        std::from_chars(component.data(), component.data() + component.size(), part);
        value = dot == std::string_view::npos ? std::string_view{} : value.substr(dot + 1);
    }
    return {parts[0], parts[1], parts[2]};
}

OperatingSystemVersion operatingSystemVersion() {
    try {
        return parseOSRelease(readWholeFile("/etc/os-release"));
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace platform
