#include "ToolGate.hpp"

#include "Files.hpp"

namespace testsupport {

ToolGate::ToolGate(std::string toolPath, const std::string& argumentPattern) : toolPath_(std::move(toolPath)) {
    std::string real = folder_ / "real";
    writeFile(real, "", 0755);
    real_ = std::make_unique<BindMount>(toolPath_, real);
    writeFile(folder_ / "gated", "#!/bin/sh\ncase \"$*\" in " + argumentPattern + ")\n  i=0\n  while [ $i -lt 600 ] && [ ! -e '" +
                                     folder_ / "open" + "' ]; do sleep 0.1; i=$((i + 1)); done;;\nesac\nexec '" + real +
                                     "' \"$@\"\n", 0755);
    gated_ = std::make_unique<BindMount>(folder_ / "gated", toolPath_);
}

ToolGate::~ToolGate() { open(); }  // the mounts go in reverse order: the script first

void ToolGate::open() { writeFile(folder_ / "open", ""); }

}  // namespace testsupport
