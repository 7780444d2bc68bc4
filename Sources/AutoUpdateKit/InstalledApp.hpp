#pragma once
// The library's view of the app it updates: its bundle as read when it was configured
// (a running executable without a bundle carries its Info.plist inside), and what the
// client reads from it.

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"

#include "Platform/Bundle.hpp"

namespace autoupdatekit {

class InstalledApp {
public:
    explicit InstalledApp(platform::Bundle bundle) : bundle_(std::move(bundle)) {}

    const platform::Bundle& bundle() const noexcept { return bundle_; }

private:
    platform::Bundle bundle_;
};

const InstalledApp& installedApp(const AutoUpdateConfiguration& configuration);

// A bundle's version and build, as AppVersion::ofApp reads them.
AppVersion bundleVersion(const platform::Bundle& bundle);

}  // namespace autoupdatekit
