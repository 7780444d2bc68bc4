#pragma once
// Team signing keys for tests: key files on disk and trust-store entries.

#include "Platform/Crypto.hpp"

#include <string>

namespace testsupport {

struct TeamKey {
    platform::Ed25519PrivateKey key;
    std::string team;
    std::string privateKeyFile;
};

// Generates a key and writes its private key file into folder.
TeamKey makeTeamKey(const std::string& folder, const std::string& team);

// Adds the key's public half to <trust store>/<team>.pub (inside a private namespace).
void trustKeyForTeam(const platform::Ed25519PrivateKey& key, const std::string& team);

// Runs the codesign tool; returns its status and output.
struct CodesignRun {
    int status;
    std::string output;
};
CodesignRun codesign(const std::vector<std::string>& arguments);

// Signs with the tool, failing the test on error.
void signWithTeam(const std::string& bundle, const TeamKey& key, bool deep = false);
void signAdHoc(const std::string& bundle);

}  // namespace testsupport
