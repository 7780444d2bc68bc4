#include "InstallNames.hpp"

#include <cctype>
#include <string_view>

namespace privilegedhelper {
namespace {

bool isUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        bool hyphen = index == 8 || index == 13 || index == 18 || index == 23;
        char c = text[index];
        if (hyphen ? c != '-' : !(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

// Whether name is prefix + a UUID + suffix.
bool isNamed(std::string_view name, const std::string& prefix, std::string_view suffix) {
    if (name.size() != prefix.size() + 36 + suffix.size()) return false;
    return name.substr(0, prefix.size()) == prefix && name.substr(name.size() - suffix.size()) == suffix &&
           isUUID(name.substr(prefix.size(), 36));
}

}  // namespace

std::string holdingFolderName(const std::string& installName, const std::string& uuid) {
    return "." + installName + ".autoupdate." + uuid + ".copying";
}

std::string backupName(const std::string& installName, const std::string& uuid) {
    return "." + installName + ".autoupdate.backup." + uuid + ".app";
}

InstallLeftover installLeftoverKind(const std::string& name, const std::string& installName) {
    std::string prefix = "." + installName + ".autoupdate.";
    if (isNamed(name, prefix + "backup.", ".app")) return InstallLeftover::backup;
    if (isNamed(name, prefix, ".app") || isNamed(name, prefix, ".copying")) return InstallLeftover::copy;
    return InstallLeftover::none;
}

}  // namespace privilegedhelper
