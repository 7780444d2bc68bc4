#include "Platform/TextEncoding.hpp"

#include <cstdint>
#include <optional>
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <vector>

namespace platform {

bool isValidUTF8(std::string_view bytes) noexcept {
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t codePoint;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07u;
        } else {
            return false;
        }
        if (bytes.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
        if (overlong || surrogate || codePoint > 0x10FFFF) return false;
        i += length;
    }
    return true;
}

namespace {

bool isAsciiWhitespace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isContinuation(char c) { return (static_cast<std::uint8_t>(c) & 0xC0u) == 0x80u; }

// The code point starting at position of valid UTF-8 text.
std::uint32_t codePointAt(std::string_view text, std::size_t position, std::size_t& length) {
    auto lead = static_cast<std::uint8_t>(text[position]);
    length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t value = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t index = 1; index < length; ++index) {
        value = (value << 6) | (static_cast<std::uint8_t>(text[position + index]) & 0x3Fu);
    }
    return value;
}

bool isWhitespaceAt(std::string_view text, std::size_t position, std::size_t& length) {
    return u_isUWhiteSpace(static_cast<UChar32>(codePointAt(text, position, length)));
}

}  // namespace

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    std::size_t start = 0;
    std::size_t end = text.size();
    if (!isValidUTF8(text)) {
        while (start < end && isAsciiWhitespace(text[start])) ++start;
        while (end > start && isAsciiWhitespace(text[end - 1])) --end;
        return std::string(text.substr(start, end - start));
    }
    std::size_t length = 0;
    while (start < end && isWhitespaceAt(text, start, length)) start += length;
    while (end > start) {
        std::size_t previous = end - 1;
        while (previous > start && isContinuation(text[previous])) --previous;
        if (!isWhitespaceAt(text, previous, length)) break;
        end = previous;
    }
    return std::string(text.substr(start, end - start));
}

namespace {

// NFC form in UTF-16; nothing when ICU refuses the text.
std::optional<std::u16string> composed(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return std::nullopt;
    std::u16string utf16(text.size() + 1, u'\0');
    std::int32_t length = 0;
    u_strFromUTF8(utf16.data(), static_cast<std::int32_t>(utf16.size()), &length, text.data(),
                  static_cast<std::int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    utf16.resize(static_cast<std::size_t>(length));
    std::u16string normalized(utf16.size() * 3 + 1, u'\0');
    std::int32_t normalizedLength = unorm2_normalize(nfc, utf16.data(), length, normalized.data(),
                                                     static_cast<std::int32_t>(normalized.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    normalized.resize(static_cast<std::size_t>(normalizedLength));
    return normalized;
}

}  // namespace

bool canonicallyEquivalent(std::string_view left, std::string_view right) {
    if (left == right) return true;
    if (!isValidUTF8(left) || !isValidUTF8(right)) return false;
    auto leftComposed = composed(left);
    auto rightComposed = composed(right);
    return leftComposed && rightComposed && *leftComposed == *rightComposed;
}

bool isAlphanumericAt(std::string_view text, std::size_t position, std::size_t& length) {
    auto category = static_cast<std::uint32_t>(u_charType(static_cast<UChar32>(codePointAt(text, position, length))));
    constexpr std::uint32_t letters = (1u << U_UPPERCASE_LETTER) | (1u << U_LOWERCASE_LETTER) | (1u << U_TITLECASE_LETTER) |
                                      (1u << U_MODIFIER_LETTER) | (1u << U_OTHER_LETTER);
    constexpr std::uint32_t marks = (1u << U_NON_SPACING_MARK) | (1u << U_ENCLOSING_MARK) | (1u << U_COMBINING_SPACING_MARK);
    constexpr std::uint32_t numbers = (1u << U_DECIMAL_DIGIT_NUMBER) | (1u << U_LETTER_NUMBER) | (1u << U_OTHER_NUMBER);
    return ((1u << category) & (letters | marks | numbers)) != 0;
}

}  // namespace platform
