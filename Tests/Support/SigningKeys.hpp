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

// Generates a key and writes its private key file (PKCS#8 PEM) into folder.
TeamKey makeTeamKey(const std::string& folder, const std::string& team);

// Adds the key's public half to <trust store>/<team>.pub (inside a private namespace).
void trustKeyForTeam(const platform::Ed25519PrivateKey& key, const std::string& team);

// Runs the codesign tool; returns its status and output.
struct CodesignRun {
    int status;
    std::string output;
};
CodesignRun codesign(const std::vector<std::string>& arguments);

// Runs the openssl command-line tool (/usr/bin/openssl, from the Debian package),
// failing the test when it fails; its output.
std::string openssl(const std::vector<std::string>& arguments);

// Signs with the tool, failing the test on error.
void signWithTeam(const std::string& bundle, const TeamKey& key, bool deep = false);
void signAdHoc(const std::string& bundle);

}  // namespace testsupport
