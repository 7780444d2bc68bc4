#include "InstallQueue.hpp"

#include <algorithm>

namespace privilegedhelper {

InstallQueue::InstallQueue() : worker_([this](std::stop_token stop) { work(stop); }) {}

InstallQueue::Admission InstallQueue::add(uid_t user, const autoupdatekit::PrivilegedUpdateRequest& request,
                                          std::shared_ptr<const platform::FileDescriptor> requester, std::function<void()> run) {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = users_.find(user); found != users_.end()) {
        const auto& installs = found->second.installs;
        if (std::ranges::find(installs, request, &Install::request) != installs.end()) return Admission::alreadyScheduled;
        if (user != 0 && installs.size() >= maximumPendingPerUser) return Admission::overCap;
    }
    std::uint64_t number = nextNumber_++;
    UserInstalls& mine = users_[user];
    mine.installs.push_back({number, request, std::move(run)});
    if (requester) {
        requesterWait_.add(std::move(requester), [this, user, number] { markReady(user, number); });
    } else {
        mine.ready.push_back(number);
        readied_.notify_one();
    }
    return Admission::scheduled;
}

void InstallQueue::markReady(uid_t user, std::uint64_t number) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        users_.at(user).ready.push_back(number);  // the user keeps the entry until it has run
    }
    readied_.notify_one();
}

// The first user after the one served last, in user id order and round again, with an
// install ready.
InstallQueue::Users::iterator InstallQueue::nextTurn() {
    auto turn = users_.upper_bound(lastServed_);
    for (std::size_t step = 0; step < users_.size(); ++step, ++turn) {
        if (turn == users_.end()) turn = users_.begin();
        if (!turn->second.ready.empty()) return turn;
    }
    return users_.end();
}

void InstallQueue::work(std::stop_token stop) {
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        auto turn = users_.end();
        if (!readied_.wait(guard, stop, [&] { return (turn = nextTurn()) != users_.end(); })) return;
        lastServed_ = turn->first;
        auto install = std::ranges::find(turn->second.installs, turn->second.ready.front(), &Install::number);
        turn->second.ready.pop_front();
        // Only this thread removes installs and users, so both stay put while it runs;
        // the install still counts against its user's cap meanwhile.
        guard.unlock();
        install->run();
        guard.lock();
        turn->second.installs.erase(install);
        if (turn->second.installs.empty()) users_.erase(turn);
    }
}

}  // namespace privilegedhelper
