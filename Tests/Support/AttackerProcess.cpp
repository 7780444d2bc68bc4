#include "AttackerProcess.hpp"

#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {
namespace {

std::array<int, 2> openPipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    return fds;
}

void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

void AttackerProcess::Control::ready() {
    char byte = 'r';
    [[maybe_unused]] auto written = ::write(readyFd_, &byte, 1);
}

AttackerProcess::AttackerProcess(const Body& body)
    : ready_(openPipe()), stop_(openPipe()), child_([&] {
          // The test's ends stay with the test alone, so the body sees its stop.
          closeIfOpen(ready_[0]);
          closeIfOpen(stop_[1]);
          Control control;
          control.readyFd_ = ready_[1];
          control.stopFd_ = stop_[0];
          return body(control);
      }, {}) {
    closeIfOpen(ready_[1]);
    closeIfOpen(stop_[0]);
}

AttackerProcess::~AttackerProcess() {
    child_.end();
    for (int* fd : {&ready_[0], &ready_[1], &stop_[0], &stop_[1]}) closeIfOpen(*fd);
}

bool AttackerProcess::waitUntilReady(std::chrono::milliseconds timeout) {
    if (!readableWithin(ready_[0], timeout)) return false;
    char byte = 0;
    return ::read(ready_[0], &byte, 1) == 1;
}

std::string AttackerProcess::stop(std::chrono::milliseconds timeout) {
    closeIfOpen(stop_[1]);  // the body sees its stop pipe readable (at its end)
    auto text = child_.result(timeout);
    child_.end();
    return text.value_or("no result");
}

}  // namespace testsupport
