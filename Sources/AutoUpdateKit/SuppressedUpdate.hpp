#pragma once
// The update whose deferred install failed, kept under
// "AutoUpdateSuppressedUpdateIdentifier" in the app's own defaults domain, so the next
// check of the same update reports the app as up to date instead of retrying.

#include "Platform/PropertyList.hpp"
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
    // Reads the bundle's standard defaults once; a bundle without a usable domain has
    // none. A defaults file that does not parse holds nothing here and is never
    // written: unreadable() then says why.
    explicit SuppressedUpdate(const platform::Bundle& bundle);

    // Whether the stored text equals the update identifier exactly.
    bool matches(const std::string& updateIdentifier) const;
    // Removes whatever value is stored, text or not.
    void clear();
    // The parse error of a defaults file that could not be read.
    const std::optional<std::string>& unreadable() const noexcept { return unreadable_; }

private:
    std::optional<platform::UserDefaults> defaults_;
    std::optional<platform::PropertyValue> stored_;
    std::optional<std::string> unreadable_;
};

}  // namespace autoupdatekit
