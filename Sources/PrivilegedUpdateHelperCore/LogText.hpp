#pragma once
// Text on its way into the root-owned log. Whatever a client says reaches the log only
// through these, so one line stays one line of bounded size.

#include <cstddef>
#include <string>
#include <string_view>

namespace privilegedhelper {

// Client text is cut after this many bytes.
inline constexpr std::size_t maximumLogFieldSize = 1024;

// Cuts a client-supplied field to maximumLogFieldSize bytes (at a character boundary)
// and marks the cut with the field's full size.
std::string boundedLogField(std::string_view text);

// Escapes the backslash and every control character (C0, DEL, C1) as \\, \n, \r, \t or
// \xNN, and every byte that is not UTF-8 as \xNN, so the text cannot break, forge or
// colour a line.
std::string escapedForLog(std::string_view text);

}  // namespace privilegedhelper
