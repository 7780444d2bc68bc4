#include "AutoUpdateKit/AppVersion.hpp"

#include "Platform/Bundle.hpp"

#include <charconv>
#include <cstdint>
#include <vector>

namespace autoupdatekit {
namespace {

std::int64_t componentValue(const std::string& component) {
    std::size_t start = component[0] == '+' || component[0] == '-' ? 1 : 0;
    if (start == component.size()) return 0;
    for (std::size_t index = start; index < component.size(); ++index) {
        if (component[index] < '0' || component[index] > '9') return 0;
    }
    // from_chars takes "-" but not "+", so the sign is applied here.
    std::int64_t value = 0;
    const char* first = component.data() + (component[0] == '+' ? 1 : 0);
    auto [end, error] = std::from_chars(first, component.data() + component.size(), value);
    return error == std::errc() && end == component.data() + component.size() ? value : 0;
}

std::vector<std::int64_t> components(const std::string& text) {
    std::vector<std::int64_t> values;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) values.push_back(componentValue(text.substr(start, end - start)));
        start = end + 1;
    }
    return values;
}

std::string stringOr0(const platform::PropertyDictionary& info, const char* key) {
    const std::string* value = platform::PropertyList::stringValue(info, key);
    return value ? *value : "0";
}

}  // namespace

AppVersion AppVersion::of(const platform::Bundle& bundle) {
    const auto& info = bundle.infoDictionary();
    return {stringOr0(info, "CFBundleShortVersionString"), stringOr0(info, "CFBundleVersion")};
}

int AppVersion::compareDotted(const std::string& left, const std::string& right) {
    auto leftValues = components(left);
    auto rightValues = components(right);
    std::size_t count = std::max(leftValues.size(), rightValues.size());
    for (std::size_t index = 0; index < count; ++index) {
        std::int64_t l = index < leftValues.size() ? leftValues[index] : 0;
        std::int64_t r = index < rightValues.size() ? rightValues[index] : 0;
        if (l != r) return l > r ? 1 : -1;
    }
    return 0;
}

}  // namespace autoupdatekit
