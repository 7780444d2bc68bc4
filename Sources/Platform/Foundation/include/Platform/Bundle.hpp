#pragma once
// An application bundle: a folder "Name.app" with Contents/Info.plist,
// Contents/MacOS/<CFBundleExecutable> and any other files.

#include "Platform/Export.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/PropertyList.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class PLATFORM_EXPORT Bundle {
public:
    // Opens the folder at url. Returns nothing when url is not a folder. A missing
    // Info.plist gives an empty info dictionary; one that does not parse, is reached
    // through a link, is not a regular file or is larger than 1 MiB throws
    // PropertyListError.
    static std::optional<Bundle> open(const FileURL& url);

    // The bundle holding the running executable; for an executable outside any
    // bundle, its folder with the executable's embedded Info.plist (or an empty one).
    static Bundle main();

    const FileURL& bundleURL() const noexcept { return url_; }
    const PropertyDictionary& infoDictionary() const noexcept { return info_; }
    std::optional<std::string> bundleIdentifier() const;

    // A bundle with the given keys, as read elsewhere.
    Bundle(FileURL url, PropertyDictionary info) : url_(std::move(url)), info_(std::move(info)) {}

private:

    FileURL url_;
    PropertyDictionary info_;
};

// Path of the running executable.
PLATFORM_EXPORT std::string currentExecutablePath();

// Reads the dictionary embedded in an executable's ELF section (such as "__info_plist");
// empty when the section is absent.
PLATFORM_EXPORT PropertyDictionary embeddedPropertyList(const std::string& executablePath, const std::string& sectionName);
// The same for an executable image already in memory; origin names it in messages.
PLATFORM_EXPORT PropertyDictionary embeddedPropertyList(std::string_view image, const std::string& sectionName, const std::string& origin);

}  // namespace platform
