#pragma once
// A throw-away self-signed certificate for 127.0.0.1 that libcurl trusts until the end
// of the scope: a bundle holding it alone is bind-mounted over libcurl's CA file, so
// only inside a test's private mount namespace (PrivateSystemPaths), and the product
// code verifies servers exactly as it always does.

#include "BindMount.hpp"
#include "TemporaryDirectory.hpp"

#include <memory>
#include <string>

namespace testsupport {

class TrustedCertificate {
public:
    // Throws when the process shares the machine's mount namespace.
    TrustedCertificate();
    TrustedCertificate(const TrustedCertificate&) = delete;
    TrustedCertificate& operator=(const TrustedCertificate&) = delete;

    // For a server to present.
    const std::string& certificatePEM() const noexcept { return certificatePEM_; }
    const std::string& privateKeyPEM() const noexcept { return privateKeyPEM_; }

private:
    std::string certificatePEM_;
    std::string privateKeyPEM_;
    TemporaryDirectory folder_;
    std::unique_ptr<BindMount> trusted_;  // the bundle over libcurl's CA file
};

}  // namespace testsupport
