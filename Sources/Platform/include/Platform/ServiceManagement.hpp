#pragma once
// Authorization and helper blessing, standing in for the platform's services.
//
// Authorization succeeds for root. Anyone else would be asked through a privilege
// prompt; this stand-in has none, so it fails with statusAuthorizationDenied.
//
// Blessing checks first and changes nothing until every check passes: the label is a
// plain name equal to the Label of the helper's embedded launchd property list; the
// helper at Contents/Library/LaunchServices/<label> inside the app is a regular file;
// the app satisfies the helper's "SMAuthorizedClients" requirement. Then the helper is
// copied to /Library/PrivilegedHelperTools/<label> (root, 0544) and its job to
// /Library/LaunchDaemons/<label>.plist (root, 0644), each written to a fresh temporary
// file in its folder and renamed into place, and the job is loaded into the running
// supervisor with `launchctl bootstrap system`.

#include "Platform/FileURL.hpp"
#include "Platform/SecurityStatus.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace platform::servicemanagement {

inline constexpr std::uint32_t authorizationInteractionAllowed = 0x01;
inline constexpr std::uint32_t authorizationExtendRights = 0x02;
inline constexpr std::uint32_t authorizationPreAuthorize = 0x10;

class Authorization {
public:
    static security::OSStatus create(std::uint32_t flags, std::optional<Authorization>& authorization);
    // Frees the authorization; the stand-in holds no resource beyond the object.
    void free(std::uint32_t flags);
    bool freed() const noexcept { return freed_; }

private:
    Authorization() = default;
    bool freed_ = false;
};

inline constexpr const char* privilegedHelperToolsFolder = "/Library/PrivilegedHelperTools";
inline constexpr const char* launchDaemonsFolder = "/Library/LaunchDaemons";

// Installs the helper of the app at appBundle; on failure, error describes why.
bool jobBless(const std::string& label, const FileURL& appBundle, const Authorization& authorization, std::optional<std::string>& error);

}  // namespace platform::servicemanagement
