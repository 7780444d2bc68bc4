#pragma once
// How one update check runs: who hears of its progress and log lines, the switch that
// cancels it, and whether it is a scheduled check. A direct check calls these on the
// thread that runs it.

#include "AutoUpdateKit/AutoUpdateProgress.hpp"
#include "AutoUpdateKit/CheckCancellation.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace autoupdatekit {

// Receives one line of text.
using AutoUpdateLog = std::function<void(const std::string& line)>;

struct AutoUpdateCheckOptions {
    // Sees the archive download's progress.
    AutoUpdateProgressObserver progress = {};
    AutoUpdateLog log = {};
    CheckCancellation cancellation = {};
    // A scheduled check passes over the release the user skipped and honours a phased
    // rollout; a manual check (the default) offers every newer release.
    bool scheduled = false;
    // The time a scheduled check compares with the rollout dates.
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

}  // namespace autoupdatekit
