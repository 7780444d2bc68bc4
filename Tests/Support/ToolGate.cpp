#include "ToolGate.hpp"

#include "Files.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>

namespace testsupport {
namespace {

void bind(const std::string& from, const std::string& to) {
    if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        throw std::runtime_error("bind " + from + " to " + to + ": " + std::strerror(errno));
    }
}

}  // namespace

ToolGate::ToolGate(std::string toolPath, const std::string& argumentPattern) : toolPath_(std::move(toolPath)) {
    std::string real = folder_ / "real";
    writeFile(real, "", 0755);
    bind(toolPath_, real);
    writeFile(folder_ / "gated", "#!/bin/sh\ncase \"$*\" in " + argumentPattern + ")\n  i=0\n  while [ $i -lt 600 ] && [ ! -e '" +
                                     folder_ / "open" + "' ]; do sleep 0.1; i=$((i + 1)); done;;\nesac\nexec '" + real +
                                     "' \"$@\"\n", 0755);
    bind(folder_ / "gated", toolPath_);
}

ToolGate::~ToolGate() {
    open();
    ::umount2(toolPath_.c_str(), MNT_DETACH);
    ::umount2((folder_ / "real").c_str(), MNT_DETACH);
}

void ToolGate::open() { writeFile(folder_ / "open", ""); }

}  // namespace testsupport
