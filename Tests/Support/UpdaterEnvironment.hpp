#pragma once
// The environment most update tests share: the private mount namespace, a private
// HOME, caches and temporary folder under a fresh test folder, and a team key that the
// trust store trusts.

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "SigningKeys.hpp"

#include <memory>
#include <string>

namespace testsupport {

class UpdaterEnvironment : public PrivateSystemPaths {
protected:
    void SetUp() override;
    void TearDown() override;

    // <folder>/Sample.app at the version, signed by the trusted team.
    std::string signedApp(const std::string& folder, const std::string& version, SampleBundle sample = {}) const;

    // CFBundleShortVersionString of the bundle's Info.plist.
    std::string versionAt(const std::string& bundle) const;

    TemporaryDirectory folder_;
    std::unique_ptr<TeamKey> team_;  // "TEAMA1", trusted

private:
    std::string savedHome_;
};

}  // namespace testsupport
