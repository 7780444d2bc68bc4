#pragma once
// Holds the runs of one of the system's fixed tools whose arguments match a pattern
// until the test opens the gate, so a helper's install can be kept in a known step
// without a switch in the helper. In the test's private mount namespace the real tool
// is bound to a second path and a script is bound over the tool's own path; for a
// matching run the script waits (at most 60 s) for the gate to open, then runs the
// real tool, and every other run goes straight through.

#include "BindMount.hpp"
#include "TemporaryDirectory.hpp"

#include <memory>
#include <string>

namespace testsupport {

class ToolGate {
public:
    // argumentPattern is a shell case pattern matched against all arguments as one text.
    ToolGate(std::string toolPath, const std::string& argumentPattern);
    ~ToolGate();  // opens the gate and unbinds both paths
    ToolGate(const ToolGate&) = delete;
    ToolGate& operator=(const ToolGate&) = delete;

    void open();

private:
    std::string toolPath_;
    TemporaryDirectory folder_;
    std::unique_ptr<BindMount> real_;   // the real tool, at a second path
    std::unique_ptr<BindMount> gated_;  // the waiting script, over the tool
};

}  // namespace testsupport
