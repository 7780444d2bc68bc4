#pragma once
// A web address: where the manifest, an archive or a delta lives.

#include "AutoUpdateKit/Export.hpp"

#include <optional>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT URL {
public:
    // An absolute URL, kept as the exact text it was made from: a scheme, ":", then no
    // ASCII control, space or any of "<>\"{}|\\^`". Nothing for anything else.
    static std::optional<URL> parse(const std::string& text);

    const std::string& absoluteString() const noexcept { return text_; }
    // Lower case: "https".
    std::string scheme() const;

    bool operator==(const URL&) const = default;

private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace autoupdatekit
