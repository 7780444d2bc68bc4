#include "ProgressThrottle.hpp"

namespace autoupdatekit {
namespace {

constexpr auto shortestInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressThrottle::ProgressThrottle(AutoUpdateProgressObserver observer, std::optional<std::uint64_t> signedTotal)
    : state_(std::make_shared<State>()) {
    state_->observer = std::move(observer);
    state_->signedTotal = signedTotal;
    state_->started = std::chrono::steady_clock::now();
}

platform::ProgressObserver ProgressThrottle::observer() {
    if (!state_->observer) return {};
    return [state = state_](std::uint64_t received, std::optional<std::uint64_t> expected) { update(*state, received, expected); };
}

void ProgressThrottle::update(State& state, std::uint64_t received, std::optional<std::uint64_t> expected) {
    auto now = std::chrono::steady_clock::now();
    // Every download starts from an empty file, so all it holds arrived since it began.
    std::chrono::duration<double> elapsed = now - state.started;
    state.last.receivedBytes = received;
    state.last.totalBytes = state.signedTotal ? state.signedTotal : expected;
    if (elapsed.count() > 0) state.last.bytesPerSecond = static_cast<double>(received) / elapsed.count();
    if (state.called && now - state.lastCall < shortestInterval) return;
    state.called = true;
    state.lastCall = now;
    state.observer(state.last);
}

void ProgressThrottle::finish() {
    if (!state_->observer) return;
    state_->last.finished = true;
    state_->observer(state_->last);
}

}  // namespace autoupdatekit
