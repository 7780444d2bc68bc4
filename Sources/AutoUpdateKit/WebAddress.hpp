#pragma once
// The public URL and the platform's, which the HTTP session takes: the same text.

#include "AutoUpdateKit/URL.hpp"

#include "Platform/WebURL.hpp"

namespace autoupdatekit {

platform::WebURL webURL(const URL& url);
URL publicURL(const platform::WebURL& url);

}  // namespace autoupdatekit
