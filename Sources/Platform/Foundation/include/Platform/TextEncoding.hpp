#pragma once
// Text rules shared by the whole system.

#include <string>
#include <string_view>

namespace platform {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes) noexcept;

// Removes Unicode white space and line breaks (tab, line feed, carriage return, space,
// no-break space, the line and paragraph separators, ...) from both ends only.
// Text that is not valid UTF-8 is trimmed of ASCII white space only.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

// Whether two UTF-8 texts are canonically equivalent (a precomposed and a decomposed
// spelling of the same text are). Invalid UTF-8 compares byte for byte.
bool canonicallyEquivalent(std::string_view left, std::string_view right);

// Whether the code point at the start of valid UTF-8 text is a Unicode letter, mark or
// digit (any number); sets length to its byte count.
bool isAlphanumericAt(std::string_view text, std::size_t position, std::size_t& length);

}  // namespace platform
