#include "UpdaterEnvironment.hpp"

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <cstdlib>
#include <sys/stat.h>

namespace testsupport {

void UpdaterEnvironment::SetUp() {
    PrivateSystemPaths::SetUp();
    ::chmod(folder_.path().c_str(), 0755);  // reachable for tests that run as uid 65534
    savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", (folder_ / "home").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (folder_ / "cache").c_str(), 1);
    ::setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
    platform::createDirectories(folder_ / "home");
    platform::createDirectories(folder_ / "tmp");
    team_ = std::make_unique<TeamKey>(makeTeamKey(folder_.path(), "TEAMA1"));
    trustKeyForTeam(team_->key, "TEAMA1");
}

void UpdaterEnvironment::TearDown() {
    ::setenv("HOME", savedHome_.c_str(), 1);
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("TMPDIR");
    PrivateSystemPaths::TearDown();
}

std::string UpdaterEnvironment::signedApp(const std::string& folder, const std::string& version, SampleBundle sample) const {
    sample.extraInfo["CFBundleShortVersionString"] = version;
    std::string path = buildBundle(folder, "Sample", sample);
    signWithTeam(path, *team_);
    return path;
}

std::string UpdaterEnvironment::versionAt(const std::string& bundle) const {
    platform::PropertyDictionary info = readDictionary(bundle + "/Contents/Info.plist");
    const std::string* version = platform::PropertyList::stringValue(info, "CFBundleShortVersionString");
    return version ? *version : "(none)";
}

}  // namespace testsupport
