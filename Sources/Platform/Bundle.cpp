#include "Platform/Bundle.hpp"

#include "Platform/ElfSection.hpp"
#include "Platform/SystemError.hpp"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

PropertyDictionary dictionaryFrom(const PropertyValue& value, const std::string& origin) {
    const auto* dictionary = value.getIf<PropertyDictionary>();
    if (dictionary == nullptr) throw PropertyListError(origin + ": top level is not a dictionary");
    return *dictionary;
}

}  // namespace

std::optional<Bundle> Bundle::open(const FileURL& url) {
    struct stat status {};
    if (::stat(url.path().c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    std::string infoPath = url.path() + "/Contents/Info.plist";
    if (::access(infoPath.c_str(), F_OK) != 0) return Bundle(url, {});
    return Bundle(url, dictionaryFrom(PropertyList::readFile(infoPath), infoPath));
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
    auto bytes = readElfSection(executablePath, sectionName);
    if (!bytes) return {};
    return dictionaryFrom(PropertyList::read(*bytes), executablePath + " " + sectionName);
}

}  // namespace platform
