#include "ToolRun.hpp"

#include "Platform/Process.hpp"
#include "Platform/TextEncoding.hpp"

namespace autoupdatekit {

ToolRunResult runTool(const std::string& executablePath, const std::vector<std::string>& arguments) {
    platform::CapturedOutput captured = platform::runCapturingOutput(executablePath, arguments);
    ToolRunResult result;
    result.status = captured.status;
    if (platform::isValidUTF8(captured.bytes)) result.output = std::move(captured.bytes);
    return result;
}

}  // namespace autoupdatekit
