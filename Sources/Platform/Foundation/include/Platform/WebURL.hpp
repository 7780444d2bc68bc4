#pragma once
// A web URL kept as the exact text it was made from: whatever a publisher writes comes
// back unchanged.

#include "Platform/Export.hpp"
#include <optional>
#include <string>

namespace platform {

class PLATFORM_EXPORT WebURL {
public:
    // Parses an absolute URL: a scheme (a letter, then letters, digits, "+", "-" or "."),
    // ":", then any characters but ASCII controls, space and the characters
    // "<>\"{}|\\^`". Non-ASCII text is kept as written. Anything else, the empty text
    // among it, gives nothing.
    static std::optional<WebURL> parse(const std::string& text);

    const std::string& absoluteString() const noexcept { return text_; }
    // The scheme in lower case ("https").
    std::string scheme() const;

    bool operator==(const WebURL&) const = default;

private:
    explicit WebURL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace platform
