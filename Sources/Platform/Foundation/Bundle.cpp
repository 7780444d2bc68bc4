#include "Platform/Bundle.hpp"

#include "Platform/ElfSection.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// An Info.plist is a few kilobytes; nothing honest comes near this.
constexpr std::size_t maximumInfoSize = 1024 * 1024;

PropertyDictionary dictionaryFrom(const PropertyValue& value, const std::string& origin) {
    const auto* dictionary = value.getIf<PropertyDictionary>();
    if (dictionary == nullptr) throw PropertyListError(origin + ": top level is not a dictionary");
    return *dictionary;
}

}  // namespace

std::optional<Bundle> Bundle::open(const FileURL& url) {
    FileDescriptor bundle(::open(url.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!bundle.valid()) return std::nullopt;
    // Below the bundle's own folder nothing is followed or waited on: a bundle may be
    // staged by anyone, and its Info.plist read by root.
    std::string infoPath = url.path() + "/Contents/Info.plist";
    FileDescriptor contents(::openat(bundle.get(), "Contents", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!contents.valid() && errno == ENOENT) return Bundle(url, {});
    std::optional<std::string> bytes;
    try {
        if (!contents.valid()) throwSystemError("open " + url.path() + "/Contents");
        bytes = readRegularFileAt(contents.get(), "Info.plist", maximumInfoSize, infoPath);
    } catch (const SystemError& error) {
        throw PropertyListError(error.what());
    }
    if (!bytes) return Bundle(url, {});
    try {
        return Bundle(url, dictionaryFrom(PropertyList::read(*bytes), infoPath));
    } catch (const PropertyListError& error) {
        throw PropertyListError(infoPath + ": " + error.what());
    }
}

Bundle Bundle::main() {
    FileURL executable(currentExecutablePath());
    FileURL folder = executable.deletingLastPathComponent();
    FileURL contents = folder.deletingLastPathComponent();
    if (folder.lastPathComponent() == "MacOS" && contents.lastPathComponent() == "Contents") {
        if (auto bundle = open(contents.deletingLastPathComponent())) return *bundle;
    }
    return Bundle(folder, embeddedPropertyList(executable.path(), "__info_plist"));
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    const std::string* identifier = PropertyList::stringValue(info_, "CFBundleIdentifier");
    return identifier ? std::optional<std::string>(*identifier) : std::nullopt;
}

std::string currentExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length < 0) throwSystemError("readlink /proc/self/exe");
    return std::string(buffer, static_cast<std::size_t>(length));
}

PropertyDictionary embeddedPropertyList(const std::string& executablePath, const std::string& sectionName) {
    return embeddedPropertyList(readWholeFile(executablePath), sectionName, executablePath);
}

PropertyDictionary embeddedPropertyList(std::string_view image, const std::string& sectionName, const std::string& origin) {
    auto bytes = elfSection(image, sectionName, origin);
    if (!bytes) return {};
    return dictionaryFrom(PropertyList::read(*bytes), origin + " " + sectionName);
}

}  // namespace platform
