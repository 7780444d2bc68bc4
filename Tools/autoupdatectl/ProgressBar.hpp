#pragma once
// A one-line download progress bar on standard error (bytes, percentage, rate, time
// left), for a terminal; the caller enables it only there.

#include "Platform/HTTPSession.hpp"

#include <chrono>
#include <string>

namespace updatecommands {

class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}
    // An observer that redraws the bar; empty when the bar is disabled.
    platform::ProgressObserver observer();
    // Ends the bar's line, if one was drawn.
    void finish();

private:
    void draw(std::uint64_t received, std::optional<std::uint64_t> expected);
    // "m:ss" or "h:mm:ss"; "--:--" while no rate is known.
    static std::string timeLeft(double seconds);

    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace updatecommands
