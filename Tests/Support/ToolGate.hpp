#pragma once
// Holds the runs of one of the system's fixed tools whose arguments match a pattern
// until the test opens the gate, so a helper's install can be kept in a known step
// without a switch in the helper: a matching run waits (at most 60 s) for the gate to
// open, then runs the real tool, and every other run goes straight through.

#include "Files.hpp"
#include "ToolCover.hpp"

#include <string>

namespace testsupport {

class ToolGate {
public:
    // argumentPattern is a shell case pattern matched against all arguments as one text.
    ToolGate(const std::string& toolPath, const std::string& argumentPattern);
    ~ToolGate();  // opens the gate; the cover goes after
    ToolGate(const ToolGate&) = delete;
    ToolGate& operator=(const ToolGate&) = delete;

    void open();

private:
    TemporaryDirectory folder_;
    ToolCover cover_;
};

}  // namespace testsupport
