#include "AutoUpdateKit/AppVersion.hpp"

#include "InstalledApp.hpp"

#include "Platform/Bundle.hpp"

#include <charconv>
#include <cstdint>
#include <optional>

namespace autoupdatekit {
namespace {

// Nothing for a component that is not a number.
std::optional<std::int64_t> componentValue(const std::string& component) {
    std::size_t start = component[0] == '+' || component[0] == '-' ? 1 : 0;
    if (start == component.size()) return std::nullopt;
    for (std::size_t index = start; index < component.size(); ++index) {
        if (component[index] < '0' || component[index] > '9') return std::nullopt;
    }
    // from_chars takes "-" but not "+", so the sign is applied here.
    std::int64_t value = 0;
    const char* first = component.data() + (component[0] == '+' ? 1 : 0);
    auto [end, error] = std::from_chars(first, component.data() + component.size(), value);
    if (error != std::errc() || end != component.data() + component.size()) return std::nullopt;
    return value;
}

// The non-empty components between the dots.
std::vector<std::string> componentTexts(const std::string& text) {
    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) texts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return texts;
}

std::vector<std::int64_t> components(const std::string& text) {
    std::vector<std::int64_t> values;
    for (const auto& component : componentTexts(text)) values.push_back(componentValue(component).value_or(0));
    return values;
}

std::string stringOr0(const platform::PropertyDictionary& info, const char* key) {
    const std::string* value = platform::PropertyList::stringValue(info, key);
    return value ? *value : "0";
}

}  // namespace

AppVersion bundleVersion(const platform::Bundle& bundle) {
    const auto& info = bundle.infoDictionary();
    return {stringOr0(info, "CFBundleShortVersionString"), stringOr0(info, "CFBundleVersion")};
}

AppVersion AppVersion::ofRunningApp() {
    try {
        return bundleVersion(platform::Bundle::main());
    } catch (const std::exception&) {
        return {};
    }
}

AppVersion AppVersion::ofApp(const std::string& appPath) {
    try {
        auto bundle = platform::Bundle::open(platform::FileURL(appPath));
        return bundle ? bundleVersion(*bundle) : AppVersion{};
    } catch (const std::exception&) {
        return {};
    }
}

int AppVersion::compare(const AppVersion& left, const AppVersion& right) {
    int comparison = compareDotted(left.version, right.version);
    return comparison != 0 ? comparison : compareDotted(left.build, right.build);
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

std::vector<std::string> AppVersion::nonNumericComponents(const std::string& text) {
    std::vector<std::string> found;
    for (const auto& component : componentTexts(text)) {
        if (!componentValue(component)) found.push_back(component);
    }
    return found;
}

}  // namespace autoupdatekit
