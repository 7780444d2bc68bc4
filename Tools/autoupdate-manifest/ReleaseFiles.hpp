#pragma once
// The release files of several channels: what make's release options put in the signed
// extension, and how sign gathers one file per channel into one manifest.

#include "CommandLine.hpp"

#include "AutoUpdateKit/ManifestExtension.hpp"

#include <optional>
#include <string>
#include <vector>

namespace manifestcommands {

// The extension make writes for a release: its channel (--channel), --critical or
// --critical-below, --minimum-installed-version with "mustUnderstand" naming it, each
// --stepping-stone file's release, and the deltas. Empty when none is given.
autoupdatekit::ManifestExtension releaseExtension(const commandline::ParsedArguments& parsed,
                                                  const std::vector<std::string>& steppingStoneFiles,
                                                  std::vector<autoupdatekit::DeltaUpdate> deltas);

// A file make wrote: a payload alone, or a document with the payload and an extension.
struct ReleaseFile {
    autoupdatekit::UpdateManifestPayload payload;
    std::optional<autoupdatekit::ManifestExtension> extension;
};
ReleaseFile readReleaseFile(const std::string& text);

// Lists the release of each file (its channel's, stable when it names none) under the
// extension's "channels", which is made when there are files and none yet. Two files
// of one channel, or one of the payload's own channel, are refused.
void listChannels(std::optional<autoupdatekit::ManifestExtension>& extension, const std::vector<std::string>& files);

}  // namespace manifestcommands
