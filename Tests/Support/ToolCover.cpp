#include "ToolCover.hpp"

#include "Files.hpp"

namespace testsupport {

ToolCover::ToolCover(const std::string& programPath, const std::string& folder, const std::string& before) {
    std::string name = folder + "/" + programPath.substr(programPath.rfind('/') + 1);
    writeFile(name + ".real", "", 0755);
    real_ = std::make_unique<BindMount>(programPath, name + ".real");
    writeFile(name + ".cover", "#!/bin/sh\n" + before + "\nexec '" + name + ".real' \"$@\"\n", 0755);
    covered_ = std::make_unique<BindMount>(name + ".cover", programPath);
}

}  // namespace testsupport
