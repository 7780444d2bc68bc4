#include "WaitUntil.hpp"

#include <thread>

namespace testsupport {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, std::chrono::milliseconds pause) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
    }
    return true;
}

}  // namespace testsupport
