#pragma once
// A one-line download progress bar on standard error (bytes, percentage, rate), drawn
// only on a terminal.

#include "Platform/HTTPSession.hpp"

#include <chrono>

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

    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace updatecommands
