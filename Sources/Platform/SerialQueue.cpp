#include "Platform/SerialQueue.hpp"

namespace platform {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), worker_([this] { drain(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    available_.notify_one();
    worker_.join();
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        tasks_.push_back(std::move(task));
    }
    available_.notify_one();
}

void SerialQueue::drain() {
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> guard(lock_);
            available_.wait(guard, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace platform
