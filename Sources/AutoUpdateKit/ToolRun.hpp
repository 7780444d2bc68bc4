#pragma once
// The one way both halves of the system run a platform tool: absolute path, arguments
// as list elements, standard output and error through one pipe, UTF-8 text.

#include <string>
#include <vector>

namespace autoupdatekit {

struct ToolRunResult {
    int status = 0;
    // The combined output decoded as UTF-8; empty when the bytes do not decode.
    std::string output;

    bool succeeded() const noexcept { return status == 0; }
};

// Runs the tool to completion. A tool that cannot be started throws the platform's
// LaunchError unchanged; a nonzero status is for the caller to turn into its own error.
ToolRunResult runTool(const std::string& executablePath, const std::vector<std::string>& arguments);

}  // namespace autoupdatekit
