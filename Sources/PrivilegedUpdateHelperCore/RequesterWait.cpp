#include "RequesterWait.hpp"

#include "Platform/SystemError.hpp"

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace privilegedhelper {

RequesterWait::RequesterWait() : changed_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!changed_.valid()) platform::throwSystemError("eventfd");
    watcher_ = std::jthread([this](std::stop_token stop) { watch(stop); });
}

void RequesterWait::add(std::shared_ptr<const platform::FileDescriptor> process, std::function<void()> ended) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        waiting_.push_back({std::move(process), std::move(ended)});
    }
    wakeWatcher();
}

void RequesterWait::wakeWatcher() const {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(changed_.get(), &one, sizeof one);
}

void RequesterWait::watch(std::stop_token stop) {
    std::stop_callback wake(stop, [this] { wakeWatcher(); });
    while (!stop.stop_requested()) {
        std::vector<pollfd> watched{{changed_.get(), POLLIN, 0}};
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (const auto& waiting : waiting_) watched.push_back({waiting.process->get(), POLLIN, 0});
        }
        if (::poll(watched.data(), watched.size(), -1) < 0) continue;  // interrupted
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t read = ::read(changed_.get(), &count, sizeof count);
        // A pidfd turns readable when its process ends. Only this thread removes
        // entries, so the first ones are still those that were polled.
        std::vector<std::function<void()>> ended;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (std::size_t index = 1; index < watched.size(); ++index) {
                if (watched[index].revents == 0) continue;
                ended.push_back(std::move(waiting_[index - 1].ended));
                waiting_[index - 1].process.reset();
            }
            std::erase_if(waiting_, [](const Waiting& waiting) { return !waiting.process; });
        }
        for (auto& call : ended) call();
    }
}

}  // namespace privilegedhelper
