#include "LogText.hpp"

#include "Platform/TextEncoding.hpp"

#include <cstdio>

namespace privilegedhelper {
namespace {

std::string hexEscape(unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// Length of the well-formed UTF-8 character at position, or 0.
std::size_t characterLength(std::string_view text, std::size_t position) {
    auto lead = static_cast<unsigned char>(text[position]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || position + length > text.size()) return 0;
    return platform::isValidUTF8(text.substr(position, length)) ? length : 0;
}

}  // namespace

std::string boundedLogField(std::string_view text) {
    if (text.size() <= maximumLogFieldSize) return std::string(text);
    std::size_t end = maximumLogFieldSize;
    // Back to the start of the character the cut falls in.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end)) + "...[cut, " + std::to_string(text.size()) + " bytes]";
}

std::string escapedForLog(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        auto byte = static_cast<unsigned char>(text[position]);
        std::size_t length = characterLength(text, position);
        bool c1Control = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[position + 1]) < 0xA0;
        if (byte == '\\') escaped += "\\\\";
        else if (byte == '\n') escaped += "\\n";
        else if (byte == '\r') escaped += "\\r";
        else if (byte == '\t') escaped += "\\t";
        else if (byte < 0x20 || byte == 0x7F || length == 0) escaped += hexEscape(byte);
        else if (c1Control) escaped += hexEscape(byte) + hexEscape(static_cast<unsigned char>(text[position + 1]));
        else escaped.append(text.substr(position, length));
        position += length == 0 ? 1 : length;
    }
    return escaped;
}

}  // namespace privilegedhelper
