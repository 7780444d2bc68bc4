#pragma once
// The update whose deferred install failed, kept under
// "AutoUpdateSuppressedUpdateIdentifier" in the app's own defaults domain, so the next
// check of the same update reports the app as up to date instead of retrying.

#include "Platform/UserDefaults.hpp"

#include <optional>
#include <string>

namespace platform {
class Bundle;
}

namespace autoupdatekit {

inline constexpr const char* suppressedUpdateIdentifierKey = "AutoUpdateSuppressedUpdateIdentifier";

class SuppressedUpdate {
public:
    // The bundle's standard defaults; a bundle without a usable domain has none.
    explicit SuppressedUpdate(const platform::Bundle& bundle);

    // Whether the stored text equals the update identifier exactly.
    bool matches(const std::string& updateIdentifier) const;
    // Removes whatever value is stored, text or not.
    void clear();

private:
    std::optional<platform::UserDefaults> defaults_;
};

}  // namespace autoupdatekit
