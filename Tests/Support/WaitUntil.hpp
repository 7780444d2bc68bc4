#pragma once
// The one bounded wait of the tests: polls a condition until it holds or time is up.

#include <chrono>
#include <functional>

namespace testsupport {

// Whether done() held within the timeout; it is asked again every pause.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds pause = std::chrono::milliseconds(50));

}  // namespace testsupport
