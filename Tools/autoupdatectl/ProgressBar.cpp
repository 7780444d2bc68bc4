#include "ProgressBar.hpp"

#include <cstdio>

namespace updatecommands {

platform::ProgressObserver ProgressBar::observer() {
    if (!enabled_) return {};
    return [this](std::uint64_t received, std::optional<std::uint64_t> expected) { draw(received, expected); };
}

void ProgressBar::draw(std::uint64_t received, std::optional<std::uint64_t> expected) {
    auto now = std::chrono::steady_clock::now();
    bool complete = expected && received >= *expected;
    if (!complete && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double mebibytes = static_cast<double>(received) / (1024.0 * 1024.0);
    double rate = seconds > 0 ? mebibytes / seconds : 0;
    if (expected && *expected > 0) {
        double fraction = static_cast<double>(received) / static_cast<double>(*expected);
        int filled = static_cast<int>(fraction * 30);
        std::fprintf(stderr, "\r[%-30.*s] %3d%% %.1f / %.1f MiB  %.1f MiB/s ", filled, "##############################",
                     static_cast<int>(fraction * 100), mebibytes, static_cast<double>(*expected) / (1024.0 * 1024.0), rate);
    } else {
        std::fprintf(stderr, "\r%.1f MiB  %.1f MiB/s ", mebibytes, rate);
    }
    drawn_ = true;
}

void ProgressBar::finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
}

}  // namespace updatecommands
