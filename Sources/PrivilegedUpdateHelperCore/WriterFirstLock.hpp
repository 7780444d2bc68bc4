#pragma once
// A readers-writer lock in which a waiting writer goes before every reader that comes
// after it: however many readers keep arriving, the writer waits only for those already
// inside. (The library's shared mutex lets new readers pass a waiting writer here.)

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace privilegedhelper {

class WriterFirstLock {
public:
    void lock_shared();
    void unlock_shared();
    void lock();
    void unlock();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t readers_ = 0;
    std::size_t writersWaiting_ = 0;
    bool writing_ = false;
};

}  // namespace privilegedhelper
