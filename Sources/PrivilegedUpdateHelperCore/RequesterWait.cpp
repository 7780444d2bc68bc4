#include "RequesterWait.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

namespace privilegedhelper {
namespace {

constexpr auto probeInterval = std::chrono::milliseconds(200);

bool processExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

RequesterWait::RequesterWait(platform::SerialQueue& queue)
    : queue_(queue), prober_([this](std::stop_token stop) { probe(stop); }) {}

bool RequesterWait::add(pid_t pid, uid_t user, std::function<void()> install) {
    std::lock_guard<std::mutex> guard(lock_);
    auto sameUser = [user](const Waiting& waiting) { return waiting.user == user; };
    if (static_cast<std::size_t>(std::count_if(waiting_.begin(), waiting_.end(), sameUser)) >= maximumWaitingPerUser) return false;
    waiting_.push_back({pid, user, std::move(install)});
    changed_.notify_all();
    return true;
}

void RequesterWait::probe(std::stop_token stop) {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stop.stop_requested()) {
        changed_.wait(guard, stop, [this] { return !waiting_.empty(); });
        for (auto waiting = waiting_.begin(); waiting != waiting_.end();) {
            if (processExists(waiting->pid)) {
                ++waiting;
                continue;
            }
            queue_.async(std::move(waiting->install));
            waiting = waiting_.erase(waiting);
        }
        changed_.wait_for(guard, stop, probeInterval, [] { return false; });
    }
}

}  // namespace privilegedhelper
