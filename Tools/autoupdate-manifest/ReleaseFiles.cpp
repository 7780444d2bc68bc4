#include "ReleaseFiles.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "ReleaseTermsCoding.hpp"

namespace manifestcommands {
namespace {

using autoupdatekit::ManifestRelease;

ManifestRelease releaseOf(const ReleaseFile& file) {
    return {file.extension ? static_cast<const autoupdatekit::ReleaseTerms&>(*file.extension) : autoupdatekit::ReleaseTerms{},
            file.payload};
}

std::string channelOf(const ReleaseFile& file) { return file.extension ? file.extension->channel.value_or("stable") : "stable"; }

}  // namespace

autoupdatekit::ManifestExtension releaseExtension(const commandline::ParsedArguments& parsed,
                                                  const std::vector<std::string>& steppingStoneFiles,
                                                  std::vector<autoupdatekit::DeltaUpdate> deltas) {
    autoupdatekit::ManifestExtension extension;
    extension.deltas = std::move(deltas);
    extension.channel = parsed.value("--channel");
    // Refused here, not first by every client that reads the signed manifest.
    if (extension.channel && !autoupdatekit::ManifestExtensionCoding::isChannelName(*extension.channel)) {
        throw commandline::UsageError("--channel takes 1 to 64 of a-z, 0-9, \"-\", \"_\" and \".\"");
    }
    if (parsed.has("--critical") || parsed.value("--critical-below")) extension.critical = {parsed.value("--critical-below")};
    extension.minimumInstalledVersion = parsed.value("--minimum-installed-version");
    // A client that ignored the lowest version would apply the release over any older one.
    if (extension.minimumInstalledVersion) extension.otherMembers["mustUnderstand"] = R"(["minimumInstalledVersion"])";
    for (const auto& file : steppingStoneFiles) extension.steppingStones.push_back(releaseOf(readReleaseFile(commandline::readInput(file))));
    return extension;
}

ReleaseFile readReleaseFile(const std::string& text) {
    auto decoder = autoupdatekit::ManifestCoding::makeDecoder();
    auto extension = autoupdatekit::ManifestExtensionCoding::decodeExtension(text);
    return {extension ? decoder.decodeManifest(text).payload : decoder.decodePayload(text), extension};
}

void listChannels(std::optional<autoupdatekit::ManifestExtension>& extension, const std::vector<std::string>& files) {
    if (files.empty()) return;
    if (!extension) extension.emplace();
    std::string ownChannel = extension->channel.value_or("stable");
    for (const auto& path : files) {
        ReleaseFile file = readReleaseFile(commandline::readInput(path));
        std::string channel = channelOf(file);
        if (channel == ownChannel || extension->channels.contains(channel)) {
            throw std::runtime_error(path + ": a second release for the channel \"" + channel + "\"");
        }
        extension->channels.emplace(channel, releaseOf(file));
    }
}

}  // namespace manifestcommands
