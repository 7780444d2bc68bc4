#pragma once
// Holds installs back until the process that asked for each has ended, away from the
// serial install queue: a requester that keeps running holds up only its own installs.
// One thread probes every waiting requester (signal 0) every 0.2 seconds and hands the
// installs of those that have ended to the queue, in the order they arrived.

#include "Platform/SerialQueue.hpp"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <stop_token>
#include <sys/types.h>
#include <thread>

namespace privilegedhelper {

class RequesterWait {
public:
    // Installs one user may have waiting at once; each holds a little memory for as
    // long as its requester runs.
    static constexpr std::size_t maximumWaitingPerUser = 8;

    explicit RequesterWait(platform::SerialQueue& queue);
    RequesterWait(const RequesterWait&) = delete;
    RequesterWait& operator=(const RequesterWait&) = delete;

    // Queues install once process pid has ended. False, and nothing kept, when the
    // user already has maximumWaitingPerUser installs waiting.
    bool add(pid_t pid, uid_t user, std::function<void()> install);

private:
    struct Waiting {
        pid_t pid;
        uid_t user;
        std::function<void()> install;
    };

    void probe(std::stop_token stop);

    platform::SerialQueue& queue_;
    std::mutex lock_;
    std::condition_variable_any changed_;
    std::list<Waiting> waiting_;
    std::jthread prober_;
};

}  // namespace privilegedhelper
