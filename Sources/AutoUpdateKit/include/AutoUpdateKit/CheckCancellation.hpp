#pragma once
// Ends a check in flight from another thread: the check stops at its next step, or
// within about a second of a transfer, with AutoUpdateError::cancelled. Copies share
// one switch, so the app keeps one and hands the check another.

#include <atomic>
#include <memory>

namespace autoupdatekit {

class CheckCancellation {
public:
    CheckCancellation() : cancelled_(std::make_shared<std::atomic<bool>>(false)) {}

    void cancel() const noexcept { cancelled_->store(true); }
    bool isCancelled() const noexcept { return cancelled_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

}  // namespace autoupdatekit
