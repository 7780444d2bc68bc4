#include "AutoUpdateKit/URL.hpp"

#include "WebAddress.hpp"

namespace autoupdatekit {

std::optional<URL> URL::parse(const std::string& text) {
    auto parsed = platform::WebURL::parse(text);
    if (!parsed) return std::nullopt;
    return URL(parsed->absoluteString());
}

std::string URL::scheme() const { return webURL(*this).scheme(); }

// A URL's text always parses again: it was made by the same parser.
platform::WebURL webURL(const URL& url) { return *platform::WebURL::parse(url.absoluteString()); }

URL publicURL(const platform::WebURL& url) { return *URL::parse(url.absoluteString()); }

}  // namespace autoupdatekit
