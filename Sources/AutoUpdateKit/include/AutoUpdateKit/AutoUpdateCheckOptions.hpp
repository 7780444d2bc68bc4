#pragma once
// How one update check runs: who hears of its progress and log lines, the switch that
// cancels it, and whether it is a scheduled check.

#include "AutoUpdateKit/CheckCancellation.hpp"

#include "Platform/HTTPSession.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace autoupdatekit {

struct AutoUpdateCheckOptions {
    // Sees the archive download's progress; resumed bytes are counted once.
    platform::ProgressObserver progress = {};
    // Receives one line of text; callable from any thread.
    std::function<void(const std::string& line)> log = {};
    CheckCancellation cancellation = {};
    // A scheduled check passes over the release the user skipped and honours a phased
    // rollout; a manual check (the default) offers every newer release.
    bool scheduled = false;
    // The time a scheduled check compares with the rollout dates.
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

}  // namespace autoupdatekit
