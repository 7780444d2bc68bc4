#pragma once
// Authorization and helper blessing, standing in for the platform's services.
//
// Authorization succeeds for root. For anyone else it succeeds only when interaction is
// allowed, and blessing then asks the system's administrator prompt (polkit's pkexec,
// action org.autoupdatekit.bless) to run the blessing as root through the bless tool;
// without interaction it fails with statusAuthorizationDenied.
//
// Blessing checks first and changes nothing until every check passes: the label is a
// plain name equal to the Label of the helper's embedded launchd property list; the
// helper at Contents/Library/LaunchServices/<label> inside the app is a regular file;
// the app satisfies the helper's "SMAuthorizedClients" requirement. Then the helper is
// copied to /Library/PrivilegedHelperTools/<label> (root, 0544) and its job to
// /Library/LaunchDaemons/<label>.plist (root, 0644), each written to a fresh temporary
// file in its folder and renamed into place, and the job is started: by systemd where it
// runs, else by the running supervisor (`launchctl bootstrap system`).

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
    // Whether acting on it needs the administrator prompt (the caller is not root).
    bool needsPrompt() const noexcept { return needsPrompt_; }

private:
    explicit Authorization(bool needsPrompt) : needsPrompt_(needsPrompt) {}
    bool needsPrompt_;
    bool freed_ = false;
};

inline constexpr const char* privilegedHelperToolsFolder = "/Library/PrivilegedHelperTools";
inline constexpr const char* launchDaemonsFolder = "/Library/LaunchDaemons";

inline constexpr const char* systemctlPath = "/bin/systemctl";

// Whether systemd runs the system (it makes /run/systemd/system at boot): it then serves
// each helper through its own socket unit, elsewhere the project's supervisor does.
bool systemdRuns();
// The socket unit that serves the helper under systemd.
std::string socketUnit(const std::string& label);

// Installs the helper of the app at appBundle; on failure, error describes why.
bool jobBless(const std::string& label, const FileURL& appBundle, const Authorization& authorization, std::optional<std::string>& error);

// Installs a helper from its bytes, as root, and starts serving it: the helper goes to
// /Library/PrivilegedHelperTools/<label> and its embedded job to
// /Library/LaunchDaemons/<label>.plist as above; then, where systemd runs (it has
// /run/systemd/system), the socket unit autoupdatekit-helper@<label>.socket is enabled
// and started, and elsewhere the job is loaded into the running supervisor. Returns the
// label, which the helper's own job names; origin names the bytes in messages.
std::string installHelper(const std::string& helperImage, const std::string& origin);

// Stops serving the helper and removes it and its job; a helper that is not installed
// is no error.
void uninstallHelper(const std::string& label);

}  // namespace platform::servicemanagement
