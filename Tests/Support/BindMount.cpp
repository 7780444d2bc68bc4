#include "BindMount.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {
namespace {

std::string mountNamespace(const char* process) {
    char target[256] = {};
    ssize_t length = ::readlink((std::string("/proc/") + process + "/ns/mnt").c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
}

}  // namespace

BindMount::BindMount(const std::string& from, std::string over) : over_(std::move(over)) {
    if (mountNamespace("self") == mountNamespace("1")) {
        throw std::runtime_error("binding over " + over_ + " needs a private mount namespace");
    }
    if (::mount(from.c_str(), over_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        throw std::runtime_error("bind " + from + " over " + over_ + ": " + std::strerror(errno));
    }
}

BindMount::~BindMount() { ::umount2(over_.c_str(), MNT_DETACH); }

}  // namespace testsupport
