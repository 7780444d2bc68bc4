#include "Platform/WebURL.hpp"

#include <cctype>
#include <cstring>

namespace platform {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isAllowed(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return true;
    if (byte <= 0x20 || byte == 0x7F) return false;
    return std::strchr("<>\"{}|\\^`", c) == nullptr;
}

}  // namespace

std::optional<WebURL> WebURL::parse(const std::string& text) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || !isAsciiLetter(text[0])) return std::nullopt;
    for (std::size_t index = 1; index < colon; ++index) {
        char c = text[index];
        if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    for (char c : text) {
        if (!isAllowed(c)) return std::nullopt;
    }
    return WebURL(text);
}

std::string WebURL::scheme() const {
    std::string scheme = text_.substr(0, text_.find(':'));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

}  // namespace platform
