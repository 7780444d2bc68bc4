#pragma once
// Runs a program with its standard output and standard error kept apart, for tests of
// which stream a tool writes to.

#include <string>
#include <vector>

namespace testsupport {

struct SeparatedOutput {
    int status = 0;
    std::string standardOutput;
    std::string standardError;
};

SeparatedOutput runSeparatingOutput(const std::string& executablePath, const std::vector<std::string>& arguments);

}  // namespace testsupport
