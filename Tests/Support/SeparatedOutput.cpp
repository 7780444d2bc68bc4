#include "SeparatedOutput.hpp"

#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/Process.hpp"

namespace testsupport {

SeparatedOutput runSeparatingOutput(const std::string& executablePath, const std::vector<std::string>& arguments) {
    TemporaryDirectory folder;
    std::vector<std::string> shell = {"-c", "out=$1 err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"", "sh",
                                      folder / "stdout", folder / "stderr", executablePath};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    auto result = platform::runCapturingOutput("/bin/sh", shell);
    return {result.status, readFile(folder / "stdout"), readFile(folder / "stderr")};
}

}  // namespace testsupport
