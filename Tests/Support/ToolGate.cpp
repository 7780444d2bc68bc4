#include "ToolGate.hpp"

#include "Files.hpp"

namespace testsupport {

ToolGate::ToolGate(const std::string& toolPath, const std::string& argumentPattern)
    : cover_(toolPath, folder_.path(),
             "case \"$*\" in " + argumentPattern + ")\n  i=0\n  while [ $i -lt 600 ] && [ ! -e '" + folder_ / "open" +
                 "' ]; do sleep 0.1; i=$((i + 1)); done;;\nesac") {}

ToolGate::~ToolGate() { open(); }

void ToolGate::open() { writeFile(folder_ / "open", ""); }

}  // namespace testsupport
