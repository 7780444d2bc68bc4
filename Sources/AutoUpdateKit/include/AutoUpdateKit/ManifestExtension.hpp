#pragma once
// The signed manifest extension: what a release says beyond the payload, carried under
// the document's top-level key "extension" so that clients which know only the payload
// ignore it and still verify the payload's own signature. Its signed members are
// covered by their own Ed25519 signatures over their canonical bytes bound to the
// payload's digest, so an extension cannot be moved to another release.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autoupdatekit {

// A patch that rebuilds this release from an installed older one.
struct AUTOUPDATEKIT_EXPORT DeltaUpdate {
    std::string fromVersion;
    std::string fromBuild;
    std::string url;  // absolute http or https URL of the patch file
    std::int64_t size = 0;
    std::string sha256;          // of the patch file, 64 lower-case hexadecimal digits
    std::string fromTreeSHA256;  // the installed bundle's tree digest the patch applies to
    std::string toTreeSHA256;    // the tree digest of the bundle it rebuilds

    bool operator==(const DeltaUpdate&) const = default;
};

// A release that scheduled checks offer whatever the user's skip or a rollout phase
// say: for every installed version, or only for those below belowVersion.
struct AUTOUPDATEKIT_EXPORT CriticalUpdate {
    std::optional<std::string> belowVersion;

    bool operator==(const CriticalUpdate&) const = default;
};

struct ManifestRelease;

// What the extension says of a release beyond its payload fields.
struct AUTOUPDATEKIT_EXPORT ReleaseTerms {
    std::vector<DeltaUpdate> deltas;
    std::optional<CriticalUpdate> critical;
    // The lowest installed version that may apply the release; an older one is offered
    // the newest of the stepping stones it may apply instead (a stone lists none itself).
    std::optional<std::string> minimumInstalledVersion;
    std::vector<ManifestRelease> steppingStones;

    bool operator==(const ReleaseTerms&) const = default;
};

// A release listed in the extension (a channel's, or a stepping stone): the payload's
// fields and its own terms, all covered by the extension's signatures.
struct AUTOUPDATEKIT_EXPORT ManifestRelease : ReleaseTerms {
    UpdateManifestPayload payload;

    bool operator==(const ManifestRelease&) const = default;
};

// The terms inherited here are the legacy payload's, which is the release of `channel`.
struct AUTOUPDATEKIT_EXPORT ManifestExtension : ReleaseTerms {
    // Freshness: the time after which the manifest is no longer trusted, and a number
    // that grows with every publication, so an old manifest cannot be served again.
    std::optional<std::chrono::sys_seconds> expires;
    std::optional<std::int64_t> sequence;
    // Binding: the app the manifest is for.
    std::optional<std::string> bundleIdentifier;
    // The legacy payload's channel; none means "stable".
    std::optional<std::string> channel;
    // The releases of the other channels, by channel name.
    std::map<std::string, ManifestRelease> channels;
    // Signed members this version does not know, each as its canonical JSON text. They
    // are kept only so that the signature covers them; a member named in
    // "mustUnderstand" that this version does not know fails the decoding instead.
    std::map<std::string, std::string> otherMembers;
    // Base64 Ed25519 signatures, one per publisher key; which key made which is found
    // by trying them, so the list stays plain text that every released client reads.
    std::vector<std::string> signatures;

    bool operator==(const ManifestExtension&) const = default;
};

namespace ManifestExtensionCoding {

// The extension of a manifest document, or nothing when it has none. Throws
// DecodingError for any extension that breaks the rules, whatever its signatures.
AUTOUPDATEKIT_EXPORT std::optional<ManifestExtension> decodeExtension(std::string_view document);

// The bytes the extension's signatures cover: a fixed context line, the SHA-256 of the
// payload's canonical bytes in hexadecimal and a line feed, then the canonical text of
// the extension's signed members.
AUTOUPDATEKIT_EXPORT std::string signedData(const UpdateManifestPayload& payload, const ManifestExtension& extension);

// The manifest document carrying the extension beside the payload and its signature.
AUTOUPDATEKIT_EXPORT std::string manifestData(const SignedUpdateManifest& manifest, const ManifestExtension& extension);

// The base64 signature of signedData, with the same key rules as ManifestSignature::sign.
AUTOUPDATEKIT_EXPORT std::string sign(const UpdateManifestPayload& payload, const ManifestExtension& extension,
                                      const std::string& privateKeyBase64);

// Whether one of the extension's signatures is valid for signedData under the key; a
// signature text that is not base64 counts as not valid. A key text that is not
// base64 fails with ManifestSignatureError::invalidPublicKey.
AUTOUPDATEKIT_EXPORT bool verify(const UpdateManifestPayload& payload, const ManifestExtension& extension,
                                 const std::string& publicKeyBase64);

// How many distinct keys among the given ones made one of the extension's signatures:
// a key counts once however often its signature is repeated, and so does a key listed
// twice. Key texts fail as in verify.
AUTOUPDATEKIT_EXPORT std::size_t countSigningKeys(const UpdateManifestPayload& payload, const ManifestExtension& extension,
                                                  const std::vector<std::string>& publicKeysBase64);

}  // namespace ManifestExtensionCoding
}  // namespace autoupdatekit
