#include "BundleBuilder.hpp"

#include "Files.hpp"

namespace testsupport {

std::string buildBundle(const std::string& folder, const std::string& name, const SampleBundle& sample) {
    std::string app = folder + "/" + name + ".app";
    platform::PropertyDictionary info = sample.extraInfo;
    info["CFBundleIdentifier"] = sample.identifier;
    info["CFBundleExecutable"] = sample.executableName;
    info.emplace("CFBundleShortVersionString", "1.0");
    writeFile(app + "/Contents/Info.plist", platform::PropertyList::xml(platform::PropertyValue(info)));
    writeFile(app + "/Contents/MacOS/" + sample.executableName, sample.executableScript, 0755);
    writeFile(app + "/Contents/Resources/readme.txt", "sample resource\n");
    return app;
}

void setInfoValues(const std::string& bundle, const platform::PropertyDictionary& values) {
    platform::PropertyDictionary info = readDictionary(bundle + "/Contents/Info.plist");
    for (const auto& [key, value] : values) info[key] = value;
    writeFile(bundle + "/Contents/Info.plist", platform::PropertyList::xml(platform::PropertyValue(info)));
}

}  // namespace testsupport
