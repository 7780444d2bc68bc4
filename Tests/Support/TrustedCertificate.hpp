#pragma once
// A throw-away self-signed certificate for 127.0.0.1 that libcurl trusts until the end
// of the scope: a bundle holding it alone is bind-mounted over libcurl's CA file, so
// only inside a test's private mount namespace (PrivateSystemPaths), and the product
// code verifies servers exactly as it always does.

#include "Files.hpp"
#include "PrivateSystemPaths.hpp"

#include <memory>
#include <string>

namespace testsupport {

class TrustedCertificate {
public:
    // Throws when the process shares the machine's mount namespace.
    TrustedCertificate();
    TrustedCertificate(const TrustedCertificate&) = delete;
    TrustedCertificate& operator=(const TrustedCertificate&) = delete;

    // The PEM files a server presents.
    std::string certificateFile() const { return folder_ / "bundle.pem"; }
    std::string keyFile() const { return folder_ / "key.pem"; }

private:
    TemporaryDirectory folder_;
    std::unique_ptr<BindMount> trusted_;  // the bundle over libcurl's CA file
};

}  // namespace testsupport
