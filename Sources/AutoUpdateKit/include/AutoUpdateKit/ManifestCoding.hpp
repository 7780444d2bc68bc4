#pragma once
// The JSON form of manifests. The encoder's text is fixed to the byte (sorted keys,
// " : " separators, two-space indentation, plain slashes and non-ASCII, UTC dates with
// whole seconds, no final newline), since signatures are made and checked over the
// canonical payload bytes it writes. The decoder accepts any valid JSON layout.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"

#include <stdexcept>
#include <string>
#include <string_view>

namespace autoupdatekit {

// The decoder's own failure: invalid JSON, a missing key, a wrong type, a number that
// does not fit, a date or URL that does not parse. No partial manifest is produced.
class AUTOUPDATEKIT_EXPORT DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The encoder's own failure (text that is not valid UTF-8).
class AUTOUPDATEKIT_EXPORT EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AUTOUPDATEKIT_EXPORT ManifestDecoder {
public:
    SignedUpdateManifest decodeManifest(std::string_view json) const;
    // A payload object alone at the top level, as the canonical bytes hold it.
    UpdateManifestPayload decodePayload(std::string_view json) const;
};

class AUTOUPDATEKIT_EXPORT ManifestEncoder {
public:
    std::string encode(const UpdateManifestPayload& payload) const;
    std::string encode(const SignedUpdateManifest& manifest) const;
};

namespace ManifestCoding {

AUTOUPDATEKIT_EXPORT ManifestDecoder makeDecoder();
AUTOUPDATEKIT_EXPORT ManifestEncoder makeEncoder();
// The bytes the signature covers.
AUTOUPDATEKIT_EXPORT std::string canonicalPayloadData(const UpdateManifestPayload& payload);
// The whole manifest document.
AUTOUPDATEKIT_EXPORT std::string manifestData(const SignedUpdateManifest& manifest);

}  // namespace ManifestCoding
}  // namespace autoupdatekit
