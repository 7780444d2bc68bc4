#pragma once
// Holds installs back until the process that asked for each has ended, away from the
// install queue: a requester that keeps running holds up only its own installs. The
// requester is followed by its pidfd, never by its number, so a process that later
// takes the number neither holds an install nor frees it. One thread polls every
// waiting pidfd, and an eventfd that tells it of new ones.

#include "Platform/FileDescriptor.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace privilegedhelper {

class RequesterWait {
public:
    RequesterWait();
    RequesterWait(const RequesterWait&) = delete;
    RequesterWait& operator=(const RequesterWait&) = delete;

    // Calls ended on the wait's own thread, once, when the process that the pidfd
    // (never null) follows has ended.
    void add(std::shared_ptr<const platform::FileDescriptor> process, std::function<void()> ended);

private:
    struct Waiting {
        std::shared_ptr<const platform::FileDescriptor> process;
        std::function<void()> ended;
    };

    void wakeWatcher() const;
    void watch(std::stop_token stop);

    std::mutex lock_;
    std::vector<Waiting> waiting_;
    platform::FileDescriptor changed_;
    std::jthread watcher_;
};

}  // namespace privilegedhelper
