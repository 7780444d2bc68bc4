#include "Platform/CodeSigning.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/BundleScan.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TrustStore.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform::codesigning {
namespace {

using namespace security;

// A seal lists every entry of a bundle; even a very large app stays far below this.
constexpr std::size_t maximumSealSize = 64 * 1024 * 1024;

Verification failure(OSStatus status, std::string problem) { return {status, std::move(problem), std::nullopt}; }

// Nested bundles that are not inside another nested bundle: each verifies its own.
std::vector<std::string> outermostNested(const std::vector<std::string>& nested) {
    std::vector<std::string> outermost;
    for (const auto& path : nested) {
        bool inside = std::any_of(nested.begin(), nested.end(), [&](const std::string& other) {
            return other != path && path.compare(0, other.size() + 1, other + "/") == 0;
        });
        if (!inside) outermost.push_back(path);
    }
    return outermost;
}

std::string digestOfFile(const std::string& path) {
    Sha256Digest digest = sha256OfFile(path);
    return hexLowercase(digest.data(), digest.size());
}

std::string hexSha256(const std::string& bytes) {
    Sha256Digest digest = sha256(bytes);
    return hexLowercase(digest.data(), digest.size());
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::string bundleIdentifierFor(const std::string& bundlePath) {
    auto bundle = Bundle::open(FileURL(bundlePath));
    if (bundle) {
        if (auto identifier = bundle->bundleIdentifier(); identifier && !identifier->empty()) return *identifier;
    }
    std::string name = FileURL(bundlePath).lastPathComponent();
    return name.substr(0, name.rfind('.') == 0 ? std::string::npos : name.rfind('.'));
}

Verification checkSignature(const CodeSeal& seal, const VerifyOptions& options) {
    if (!seal.teamIdentifier) {
        if (seal.publicKey || !seal.signature.empty()) return failure(statusSealCorrupt, "ad-hoc seal carries a key or signature");
        return {};
    }
    if (!isValidTeamIdentifier(*seal.teamIdentifier)) {
        return failure(statusInvalidTeamIdentifier, "invalid team identifier \"" + *seal.teamIdentifier + "\"");
    }
    if (!seal.publicKey || seal.publicKey->size() != 32) return failure(statusSealCorrupt, "team seal without a valid public key");
    if (!Ed25519PublicKey(*seal.publicKey).isValidSignature(seal.signature, seal.canonicalBytes())) {
        return failure(statusSignatureInvalid, "the seal's signature does not verify");
    }
    bool trusted = (options.extraTrustedKey && *options.extraTrustedKey == *seal.publicKey) ||
                   isTrustedKey(*seal.teamIdentifier, *seal.publicKey);
    if (!trusted) {
        return failure(statusUntrustedKey, "the signing key is not trusted for team " + *seal.teamIdentifier);
    }
    return {};
}

std::string describeDifference(const SealedEntry& sealed, const SealedEntry& found) {
    if (sealed.type != found.type) return "type changed: " + sealed.path;
    if (sealed.mode != found.mode) return "mode changed: " + sealed.path;
    if (sealed.type == SealedEntry::Type::symbolicLink) return "symbolic link target changed: " + sealed.path;
    return "file modified: " + sealed.path;
}

// The first entry, in path order, that differs between the seal and the disk.
std::optional<std::string> firstDifference(const std::vector<SealedEntry>& sealed, const std::vector<SealedEntry>& found) {
    std::size_t s = 0;
    std::size_t f = 0;
    while (s < sealed.size() || f < found.size()) {
        if (f == found.size() || (s < sealed.size() && sealed[s].path < found[f].path)) return "file missing: " + sealed[s].path;
        if (s == sealed.size() || found[f].path < sealed[s].path) return "file added: " + found[f].path;
        if (!(sealed[s] == found[f])) return describeDifference(sealed[s], found[f]);
        ++s;
        ++f;
    }
    return std::nullopt;
}

// Lexically resolves a relative link target from the link's folder; false when it
// climbs above the bundle or is absolute.
bool staysInside(const std::string& linkPath, const std::string& target) {
    if (target.empty() || target.front() == '/') return false;
    long depth = static_cast<long>(std::count(linkPath.begin(), linkPath.end(), '/'));
    for (const auto& part : pathComponents(target)) {
        depth += part == ".." ? -1 : 1;
        if (depth < 0) return false;
    }
    return true;
}

// The seal file's bytes, or the failure that there is none or it cannot be read.
Verification loadSeal(const std::string& bundlePath, std::string& bytes) {
    std::string path = sealPath(bundlePath);
    std::string folder = bundlePath + "/" + sealFolder(bundlePath);
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid() && (errno == ENOENT || errno == ENOTDIR)) return failure(statusUnsigned, "code object is not signed at all");
    try {
        if (!folderFd.valid()) throwSystemError("open " + folder);
        // Read once, through the descriptor: never a link, never a FIFO, never endless.
        auto read = readRegularFileAt(folderFd.get(), "CodeResources", maximumSealSize, path);
        if (!read) return failure(statusUnsigned, "code object is not signed at all");
        bytes = std::move(*read);
        return {};
    } catch (const SystemError& error) {
        if (error.code() == ELOOP || error.code() == EINVAL) return failure(statusSealCorrupt, "the seal is not a regular file");
        return failure(statusIOError, error.what());
    }
}

Verification parseSeal(const std::string& bytes) {
    try {
        return {statusSuccess, {}, CodeSeal::fromPropertyList(bytes)};
    } catch (const SealFormatError& error) {
        return failure(statusSealCorrupt, std::string("the code signature's resource seal is corrupt: ") + error.what());
    }
}

// The part of a scan inside one nested bundle, as a scan of that bundle would give it:
// paths relative to it, its own seal folder and seal file left out.
BundleContents contentsInside(const BundleContents& outer, const std::string& bundlePath, const std::string& nestedPath) {
    std::string prefix = nestedPath + "/";
    std::string nestedBundle = bundlePath + "/" + nestedPath;
    std::string ownSealFolder = sealFolder(nestedBundle);
    std::string ownSealFile = sealPath(nestedBundle).substr(nestedBundle.size() + 1);
    auto inside = [&](const std::string& path, auto&& keep) {
        if (path.compare(0, prefix.size(), prefix) != 0) return;
        std::string relative = path.substr(prefix.size());
        if (relative != ownSealFolder && relative != ownSealFile) keep(std::move(relative));
    };
    BundleContents inner;
    for (const auto& entry : outer.entries) {
        inside(entry.path, [&](std::string relative) { inner.entries.push_back({std::move(relative), entry.type, entry.mode, entry.content}); });
    }
    for (const auto& path : outer.nestedBundles) inside(path, [&](std::string relative) { inner.nestedBundles.push_back(std::move(relative)); });
    for (const auto& path : outer.unsupported) inside(path, [&](std::string relative) { inner.unsupported.push_back(std::move(relative)); });
    return inner;
}

// Nested bundles are verified as their container is, from the container's scan.
Verification verifyLoadedSeal(const std::string& bundlePath, const std::string& sealBytes, const VerifyOptions& options,
                              const std::function<BundleContents()>& scan);

Verification checkContents(const std::string& bundlePath, const CodeSeal& seal, const VerifyOptions& options,
                           const BundleContents& contents) {
    if (!contents.unsupported.empty()) {
        return failure(statusResourcesModified, "unsupported file type: " + contents.unsupported.front());
    }
    if (auto difference = firstDifference(seal.entries, contents.entries)) {
        return failure(statusResourcesModified, "a sealed resource is missing or invalid: " + *difference);
    }
    if (options.strict) {
        for (const auto& entry : contents.entries) {
            if (entry.type == SealedEntry::Type::symbolicLink && !staysInside(entry.path, entry.content)) {
                return failure(statusLinkOutsideBundle,
                               "symbolic link " + entry.path + " points outside the bundle: " + entry.content);
            }
        }
    }
    std::vector<std::string> nestedNow = outermostNested(contents.nestedBundles);
    std::vector<std::string> nestedSealed;
    for (const auto& nested : seal.nested) nestedSealed.push_back(nested.path);
    if (nestedNow != nestedSealed) return failure(statusNestedCodeInvalid, "nested code was added or removed");
    for (const auto& nested : seal.nested) {
        std::string nestedPath = bundlePath + "/" + nested.path;
        std::string bytes;
        if (!loadSeal(nestedPath, bytes).valid() || hexSha256(bytes) != nested.sealDigest) {
            return failure(statusNestedCodeInvalid, "nested code seal changed: " + nested.path);
        }
        if (options.deep) {
            // Its files were hashed in this bundle's scan; they are not read again.
            Verification inner = verifyLoadedSeal(nestedPath, bytes, options,
                                                  [&] { return contentsInside(contents, bundlePath, nested.path); });
            if (!inner.valid()) return failure(statusNestedCodeInvalid, "nested code is invalid: " + nested.path + ": " + inner.problem);
        }
    }
    return {};
}

// Checks the seal's bytes, then the bundle's contents against them; scan gives the
// contents and may still be running while the seal is parsed and its signature checked.
Verification verifyLoadedSeal(const std::string& bundlePath, const std::string& sealBytes, const VerifyOptions& options,
                              const std::function<BundleContents()>& scan) {
    Verification result = parseSeal(sealBytes);
    if (!result.valid()) return result;
    Verification signature = checkSignature(*result.seal, options);
    if (!signature.valid()) return signature;
    try {
        Verification contents = checkContents(bundlePath, *result.seal, options, scan());
        if (!contents.valid()) return contents;
    } catch (const SystemError& error) {
        return failure(statusIOError, error.what());
    }
    return result;
}

}  // namespace

Verification readSeal(const std::string& bundlePath) {
    std::string bytes;
    Verification loaded = loadSeal(bundlePath, bytes);
    return loaded.valid() ? parseSeal(bytes) : loaded;
}

Verification verifyBundle(const std::string& bundlePath, const VerifyOptions& options) {
    struct stat status {};
    if (::stat(bundlePath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return failure(statusNotABundle, "not a bundle folder");
    }
    std::string bytes;
    Verification loaded = loadSeal(bundlePath, bytes);
    if (!loaded.valid()) return loaded;
    // The scan starts as soon as there is a seal, so parsing the seal and checking its
    // signature take no time of their own; a scan whose seal fails is waited for and
    // dropped.
    auto scan = std::async(std::launch::async, [&] { return scanBundle(bundlePath); });
    return verifyLoadedSeal(bundlePath, bytes, options, [&] { return scan.get(); });
}

void signBundle(const std::string& bundlePath, const std::optional<SigningIdentity>& identity, bool deep) {
    struct stat status {};
    if (::stat(bundlePath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw SigningError(bundlePath + ": not a bundle folder");
    }
    if (identity && !isValidTeamIdentifier(identity->teamIdentifier)) {
        throw SigningError("invalid team identifier \"" + identity->teamIdentifier + "\": use upper-case letters and digits");
    }
    BundleContents contents = scanBundle(bundlePath);
    std::vector<std::string> nested = outermostNested(contents.nestedBundles);
    if (deep && !nested.empty()) {
        for (const auto& path : nested) signBundle(bundlePath + "/" + path, identity, true);
        contents = scanBundle(bundlePath);
    }
    if (!contents.unsupported.empty()) throw SigningError("cannot seal the special file " + contents.unsupported.front());

    CodeSeal seal;
    seal.identifier = bundleIdentifierFor(bundlePath);
    seal.entries = std::move(contents.entries);
    for (const auto& path : nested) {
        std::string nestedSeal = sealPath(bundlePath + "/" + path);
        if (!exists(nestedSeal)) throw SigningError("nested code is not signed: " + path);
        seal.nested.push_back({path, digestOfFile(nestedSeal)});
    }
    if (identity) {
        seal.teamIdentifier = identity->teamIdentifier;
        seal.publicKey = identity->key.publicKey().raw();
        seal.signature = identity->key.signature(seal.canonicalBytes());
    }
    std::string folder = bundlePath + "/" + sealFolder(bundlePath);
    createDirectories(folder);
    writeFileAtomically(sealPath(bundlePath), seal.propertyList(), 0644);
}

}  // namespace platform::codesigning
