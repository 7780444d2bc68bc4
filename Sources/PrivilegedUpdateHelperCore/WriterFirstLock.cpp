#include "WriterFirstLock.hpp"

namespace privilegedhelper {

void WriterFirstLock::lock_shared() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [this] { return !writing_ && writersWaiting_ == 0; });
    ++readers_;
}

void WriterFirstLock::unlock_shared() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (--readers_ == 0) changed_.notify_all();
}

void WriterFirstLock::lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    ++writersWaiting_;
    changed_.wait(guard, [this] { return !writing_ && readers_ == 0; });
    --writersWaiting_;
    writing_ = true;
}

void WriterFirstLock::unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    writing_ = false;
    changed_.notify_all();
}

}  // namespace privilegedhelper
