#pragma once
// Passes a download's progress on at most ten times a second, with the rate, and once
// more when it has finished: a fast download reports thousands of steps, and an app
// that redraws on each would spend its time drawing.

#include "AutoUpdateKit/AutoUpdateProgress.hpp"

#include "Platform/HTTPSession.hpp"

#include <chrono>
#include <memory>

namespace autoupdatekit {

class ProgressThrottle {
public:
    ProgressThrottle(AutoUpdateProgressObserver observer, std::optional<std::uint64_t> signedTotal);

    // What the HTTP session calls; empty when nobody listens.
    platform::ProgressObserver observer();
    // The last call, with finished set.
    void finish();

private:
    struct State {
        AutoUpdateProgressObserver observer;
        std::optional<std::uint64_t> signedTotal;
        AutoUpdateProgress last;
        std::chrono::steady_clock::time_point started;
        std::chrono::steady_clock::time_point lastCall;
        bool called = false;
    };
    static void update(State& state, std::uint64_t received, std::optional<std::uint64_t> expected);

    std::shared_ptr<State> state_;
};

}  // namespace autoupdatekit
