#include "AutoUpdateKit/AppVersion.hpp"

#include "InstalledApp.hpp"

#include "Platform/Bundle.hpp"

#include <algorithm>
#include <cctype>
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

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A version text split into its dotted digits and its pre-release pieces; a text that
// is not dotted digits with a well-formed pre-release part is all release, no pieces.
struct VersionParts {
    std::string release;
    std::vector<std::string> pieces;
};

VersionParts versionParts(const std::string& text) {
    std::size_t end = 0;
    while (end < text.size() && (isDigit(text[end]) || (text[end] == '.' && end > 0 && isDigit(text[end - 1])))) ++end;
    std::size_t start = end < text.size() && (text[end] == '-' || text[end] == '.') ? end + 1 : end;
    if (end == 0 || start == text.size() || !isLetter(text[start])) return {text, {}};
    VersionParts parts{text.substr(0, end), {}};
    for (std::size_t index = start; index < text.size();) {
        char c = text[index];
        if (c == '.' || c == '-') {
            ++index;
            continue;
        }
        if (!isDigit(c) && !isLetter(c)) return {text, {}};
        bool (*sameKind)(char) = isDigit(c) ? isDigit : isLetter;
        std::size_t pieceEnd = index;
        while (pieceEnd < text.size() && sameKind(text[pieceEnd])) ++pieceEnd;
        parts.pieces.push_back(text.substr(index, pieceEnd - index));
        index = pieceEnd;
    }
    return parts;
}

// Digit runs by value (of any length), below letter runs, which compare without case.
int comparePieces(const std::string& left, const std::string& right) {
    bool leftNumber = isDigit(left[0]);
    bool rightNumber = isDigit(right[0]);
    if (leftNumber != rightNumber) return leftNumber ? -1 : 1;
    std::string l = left;
    std::string r = right;
    if (leftNumber) {
        l.erase(0, std::min(l.find_first_not_of('0'), l.size() - 1));
        r.erase(0, std::min(r.find_first_not_of('0'), r.size() - 1));
        if (l.size() != r.size()) return l.size() > r.size() ? 1 : -1;
    } else {
        for (auto* text : {&l, &r}) std::transform(text->begin(), text->end(), text->begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    }
    return l == r ? 0 : (l > r ? 1 : -1);
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
    int comparison = compareVersions(left.version, right.version);
    return comparison != 0 ? comparison : compareVersions(left.build, right.build);
}

int AppVersion::compareVersions(const std::string& left, const std::string& right) {
    VersionParts l = versionParts(left);
    VersionParts r = versionParts(right);
    if (int release = compareDotted(l.release, r.release); release != 0) return release;
    // A release is newer than any of its pre-releases.
    if (l.pieces.empty() || r.pieces.empty()) return l.pieces.empty() == r.pieces.empty() ? 0 : (l.pieces.empty() ? 1 : -1);
    for (std::size_t index = 0; index < std::min(l.pieces.size(), r.pieces.size()); ++index) {
        if (int piece = comparePieces(l.pieces[index], r.pieces[index]); piece != 0) return piece;
    }
    return l.pieces.size() == r.pieces.size() ? 0 : (l.pieces.size() > r.pieces.size() ? 1 : -1);
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
    for (const auto& component : componentTexts(versionParts(text).release)) {
        if (!componentValue(component)) found.push_back(component);
    }
    return found;
}

}  // namespace autoupdatekit
