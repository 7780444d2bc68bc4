#pragma once
// The helper's installs, one at a time on one worker thread, with users served in
// turn: each user (root too) has a list of installs in the order they became ready,
// and the worker takes the next user's first, in user id order and round again. One
// user's backlog thus delays another user's install by at most one install.
//
// An install that names its requester waits (RequesterWait) until that process has
// ended before it is ready. Every install a user has in the queue counts against the
// user's cap, whether waiting, ready or running; an install identical to one the user
// already has in the queue is not added twice. Installs not yet started when the queue
// ends are dropped.

#include "RequesterWait.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/FileDescriptor.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <sys/types.h>
#include <thread>

namespace privilegedhelper {

class InstallQueue {
public:
    // Installs one non-root user may have in the queue at once, the running one
    // included. Root, who could stop the helper anyway, is not capped.
    static constexpr std::size_t maximumPendingPerUser = 8;

    enum class Admission { scheduled, alreadyScheduled, overCap };

    InstallQueue();
    InstallQueue(const InstallQueue&) = delete;
    InstallQueue& operator=(const InstallQueue&) = delete;

    // Queues run for user, ready once the process that requester follows has ended
    // (at once without one). Nothing is kept unless the answer is scheduled.
    Admission add(uid_t user, const autoupdatekit::PrivilegedUpdateRequest& request,
                  std::shared_ptr<const platform::FileDescriptor> requester, std::function<void()> run);

private:
    struct Install {
        std::uint64_t number;
        autoupdatekit::PrivilegedUpdateRequest request;
        std::function<void()> run;
    };
    // A user's installs in arrival order, and the numbers of the ready ones in the
    // order they became ready.
    struct UserInstalls {
        std::list<Install> installs;
        std::list<std::uint64_t> ready;
    };
    using Users = std::map<uid_t, UserInstalls>;

    void markReady(uid_t user, std::uint64_t number);
    Users::iterator nextTurn();
    void work(std::stop_token stop);

    std::mutex lock_;
    std::condition_variable_any readied_;
    Users users_;
    uid_t lastServed_ = 0;
    std::uint64_t nextNumber_ = 0;
    // Its thread calls markReady: it ends before the lists, after the worker.
    RequesterWait requesterWait_;
    std::jthread worker_;
};

}  // namespace privilegedhelper
