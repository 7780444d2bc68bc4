#pragma once
// A named serial queue: one worker thread runs submitted tasks one after another, in
// submission order. Tasks still queued when the queue is destroyed are run first.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const noexcept { return label_; }
    void async(std::function<void()> task);

private:
    void drain();

    std::string label_;
    std::mutex lock_;
    std::condition_variable available_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace platform
