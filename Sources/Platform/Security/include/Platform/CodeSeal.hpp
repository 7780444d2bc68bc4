#pragma once
// The seal of a signed bundle, stored as a property list at
// Contents/_CodeSignature/CodeResources (or _CodeSignature/CodeResources for a bundle
// without a Contents folder, such as a framework). It lists every other entry of the
// bundle with its type, mode bits, SHA-256 (files) or target (links), the seals of
// nested bundles, and for a team signature the team, the signer's Ed25519 public key
// and a signature over the canonical bytes of all of that.

#include "Platform/Crypto.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::codesigning {

struct SealedEntry {
    enum class Type { file, directory, symbolicLink };
    std::string path;     // relative to the bundle, "/"-separated
    Type type = Type::file;
    unsigned mode = 0;    // permission bits (07777); 0 for links
    std::string content;  // lower-case hex SHA-256 of a file, target of a link
    bool operator==(const SealedEntry&) const = default;
};

// The names a seal gives entry types: "file", "dir" and "link".
const char* sealedEntryTypeName(SealedEntry::Type type);
std::optional<SealedEntry::Type> sealedEntryTypeNamed(std::string_view name);

struct NestedSeal {
    std::string path;        // relative path of the nested bundle
    std::string sealDigest;  // lower-case hex SHA-256 of its seal file
    bool operator==(const NestedSeal&) const = default;
};

struct CodeSeal {
    std::string identifier;
    std::optional<std::string> teamIdentifier;  // absent for an ad-hoc seal
    std::optional<Bytes> publicKey;             // absent for an ad-hoc seal
    std::vector<SealedEntry> entries;           // sorted by path
    std::vector<NestedSeal> nested;             // sorted by path
    Bytes signature;                            // empty for an ad-hoc seal
    bool operator==(const CodeSeal&) const = default;

    // The bytes the signature covers: everything above but the signature, unambiguous.
    std::string canonicalBytes() const;
    std::string propertyList() const;
    // Throws SealFormatError for anything but a well-formed seal.
    static CodeSeal fromPropertyList(const std::string& bytes);
};

class SealFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Folder of the bundle's own seal, relative to the bundle.
std::string sealFolder(const std::string& bundlePath);
std::string sealPath(const std::string& bundlePath);

}  // namespace platform::codesigning
