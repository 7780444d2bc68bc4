#pragma once
// Builds real application bundles for tests: Info.plist, an executable and resources.

#include "Platform/PropertyList.hpp"

#include <string>

namespace testsupport {

struct SampleBundle {
    std::string identifier = "com.example.sample";
    std::string executableName = "Sample";
    // Shell script run as the app's executable.
    std::string executableScript = "#!/bin/sh\nexit 0\n";
    platform::PropertyDictionary extraInfo;
};

// Writes <folder>/<name>.app and returns its path.
std::string buildBundle(const std::string& folder, const std::string& name, const SampleBundle& sample = {});

// Sets the values in the bundle's Info.plist and keeps the others.
void setInfoValues(const std::string& bundle, const platform::PropertyDictionary& values);

}  // namespace testsupport
