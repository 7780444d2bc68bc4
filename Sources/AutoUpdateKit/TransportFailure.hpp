#pragma once
// A transport failure as the app sees it: offline or unreachable, TLS, or a transfer
// that broke off or passed a limit, with the URL, and curl's text kept as the detail.

#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include "Platform/HTTPSession.hpp"

namespace autoupdatekit {

[[noreturn]] void throwTransportFailure(const platform::TransportError& error, const URL& url);

}  // namespace autoupdatekit
