#include "SigningKeys.hpp"

#include "Files.hpp"

#include "Platform/Identifiers.hpp"
#include "Platform/KeyFile.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <gtest/gtest.h>

namespace testsupport {

TeamKey makeTeamKey(const std::string& folder, const std::string& team) {
    auto key = platform::Ed25519PrivateKey::generate();
    std::string file = folder + "/" + team + "-" + platform::makeUUIDString() + ".key";
    writeFile(file, platform::privateKeyPEM(key), 0600);
    return {key, team, file};
}

void trustKeyForTeam(const platform::Ed25519PrivateKey& key, const std::string& team) {
    std::string folder = platform::paths::trustStoreDirectory;
    std::string file = folder + "/" + team + ".pub";
    std::string listed = exists(file) ? readFile(file) : "";
    writeFile(file, listed + platform::base64Encode(key.publicKey().raw()) + "\n");
}

CodesignRun codesign(const std::vector<std::string>& arguments) {
    auto result = platform::runCapturingOutput(platform::paths::codesign(), arguments);
    return {result.status, result.bytes};
}

std::string openssl(const std::vector<std::string>& arguments) {
    auto result = platform::runCapturingOutput("/usr/bin/openssl", arguments);
    EXPECT_EQ(result.status, 0) << "openssl failed: " << result.bytes;
    return result.bytes;
}

void signWithTeam(const std::string& bundle, const TeamKey& key, bool deep) {
    std::vector<std::string> arguments = {"--sign", key.privateKeyFile, "--team", key.team};
    if (deep) arguments.push_back("--deep");
    arguments.push_back(bundle);
    auto result = codesign(arguments);
    ASSERT_EQ(result.status, 0) << result.output;
}

void signAdHoc(const std::string& bundle) {
    auto result = codesign({"--sign", "-", bundle});
    ASSERT_EQ(result.status, 0) << result.output;
}

}  // namespace testsupport
