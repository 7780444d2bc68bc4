#pragma once
// A one-line download progress bar on standard error (bytes, percentage, rate, time
// left), for a terminal; the caller enables it only there.

#include "AutoUpdateKit/AutoUpdateProgress.hpp"

#include <string>

namespace updatecommands {

class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    // An observer that redraws the bar (the library calls it about ten times a second
    // at most); empty when the bar is disabled.
    autoupdatekit::AutoUpdateProgressObserver observer();
    // Ends the bar's line, if one was drawn.
    void finish();

private:
    void draw(const autoupdatekit::AutoUpdateProgress& progress);
    // "m:ss" or "h:mm:ss"; "--:--" while no rate is known.
    static std::string timeLeft(double seconds);

    bool enabled_;
    bool drawn_ = false;
};

}  // namespace updatecommands
