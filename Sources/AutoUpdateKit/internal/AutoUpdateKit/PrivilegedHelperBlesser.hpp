#pragma once
// Tests whether the privileged helper's job is registered in the system domain and, if
// not, installs it from the application bundle under an authorization.

#include "AutoUpdateKit/Export.hpp"
#include "Platform/FileURL.hpp"

#include <cstdint>
#include <exception>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT PrivilegedHelperBlesserError : public std::exception {
public:
    enum class Case { authorizationCreateFailed, blessFailed };

    static PrivilegedHelperBlesserError authorizationCreateFailed(std::int32_t status);
    static PrivilegedHelperBlesserError blessFailed(const std::string& message);

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    PrivilegedHelperBlesserError(Case errorCase, std::string description) : case_(errorCase), description_(std::move(description)) {}
    Case case_;
    std::string description_;
};

namespace PrivilegedHelperBlesser {

// Whether `launchctl print system/<label>` exits 0; any failure means no.
AUTOUPDATEKIT_EXPORT bool isInstalled(const std::string& label);

// Installs the helper of the main bundle when it is not installed yet.
AUTOUPDATEKIT_EXPORT void ensureInstalled(const std::string& label);
// The same for a given application bundle.
AUTOUPDATEKIT_EXPORT void ensureInstalled(const std::string& label, const platform::FileURL& appBundle);

}  // namespace PrivilegedHelperBlesser
}  // namespace autoupdatekit
