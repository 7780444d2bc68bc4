// The app makers' guide shows the code the build compiles (docs/snippets, built against
// the installed headers alone), and those headers name nothing of the platform layer.

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string sourceDir = AUTOUPDATEKIT_SOURCE_DIR;

// The lines without their indentation, so a snippet reads the same in a list item.
std::string unindented(const std::string& text) {
    std::istringstream lines(text);
    std::string result;
    for (std::string line; std::getline(lines, line);) result += line.substr(std::min(line.find_first_not_of(' '), line.size())) + "\n";
    return result;
}

// The code between each "// [guide:<name>]" line and the "// [/guide]" line after it.
std::vector<std::string> regionsOf(const std::string& text) {
    std::vector<std::string> regions;
    for (std::size_t at = text.find("// [guide:"); at != std::string::npos; at = text.find("// [guide:", at + 1)) {
        std::size_t bodyStart = text.find('\n', at) + 1;
        std::size_t bodyEnd = text.rfind('\n', text.find("// [/guide]", bodyStart)) + 1;
        regions.push_back(text.substr(bodyStart, bodyEnd - bodyStart));
    }
    return regions;
}

}  // namespace

TEST(Guide, ShowsTheCompiledSnippetsAndThePublicHeadersNameNoPlatformType) {
    std::string guide = unindented(testsupport::readFile(sourceDir + "/docs/app-makers.md"));
    std::size_t shown = 0;
    for (const auto& name : platform::directoryEntries(sourceDir + "/docs/snippets")) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".cpp") continue;
        for (const auto& code : regionsOf(testsupport::readFile(sourceDir + "/docs/snippets/" + name))) {
            EXPECT_NE(guide.find(unindented(code)), std::string::npos) << name << ": this is not in the guide as built:\n" << code;
            ++shown;
        }
    }
    EXPECT_GE(shown, 6u);

    std::string headers = sourceDir + "/Sources/AutoUpdateKit/include/AutoUpdateKit";
    for (const auto& name : platform::directoryEntries(headers)) {
        std::string text = testsupport::readFile(headers + "/" + name);
        for (const char* platformName : {"platform::", "namespace platform", "Platform/"}) {
            EXPECT_EQ(text.find(platformName), std::string::npos) << name << " names " << platformName;
        }
    }
}
