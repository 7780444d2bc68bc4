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

}  // namespace platform
