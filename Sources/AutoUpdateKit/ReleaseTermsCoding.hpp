#pragma once
// The signed extension's members that describe releases: the terms of a release
// (deltas, critical, the lowest installed version, stepping stones) and the releases of
// other channels, decoded strictly and written in the form the signatures cover.

#include "AutoUpdateKit/ManifestExtension.hpp"
#include "JSONReading.hpp"

#include <set>
#include <string>

namespace autoupdatekit::ManifestExtensionCoding {

// Throws DecodingError: "The manifest extension is not valid: <reason>."
[[noreturn]] void refuse(const std::string& reason);

// 1 to 64 of a-z, 0-9, "-", "_" and ".".
bool isChannelName(const std::string& name);

// The members of the signed object that readTerms and readChannels take.
extern const std::set<std::string> releaseMembers;

// The terms among the object's members; the other members are left to the caller.
ReleaseTerms readTerms(const JSONReading::Json& object, bool steppingStonesAllowed = true);
// The "channels" member: each a payload's fields and its terms, nothing else.
std::map<std::string, ManifestRelease> readChannels(const JSONReading::Json& channels);

// Adds the terms' members (and "channels") to the signed object.
void writeTerms(const ReleaseTerms& terms, JSONReading::Json& object);
void writeChannels(const std::map<std::string, ManifestRelease>& channels, JSONReading::Json& object);

}  // namespace autoupdatekit::ManifestExtensionCoding
