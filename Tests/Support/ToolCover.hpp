#pragma once
// One of the system's fixed programs covered by a script of the test's, inside the
// test's private mount namespace, so a test can see or hold each run without a switch
// in the code under test. The real program is bound at a second path, and the script
// bound over its own path runs the test's shell text first and then the real program
// with the same arguments.

#include "BindMount.hpp"

#include <memory>
#include <string>

namespace testsupport {

class ToolCover {
public:
    // The two files go in folder; the text must not run the program it covers.
    ToolCover(const std::string& programPath, const std::string& folder, const std::string& before);

private:
    std::unique_ptr<BindMount> real_;     // the real program, at a second path
    std::unique_ptr<BindMount> covered_;  // the script, over the program (unbound first)
};

}  // namespace testsupport
