#include "ManifestCommands.hpp"

#include "CommandLine.hpp"
#include "DeltaWriter.hpp"
#include "ManifestSigning.hpp"
#include "ReleaseFiles.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "DeltaFormat.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/KeyFile.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace manifestcommands {
namespace {

using autoupdatekit::ManifestCoding::canonicalPayloadData;
using autoupdatekit::ManifestCoding::makeDecoder;
using autoupdatekit::ManifestCoding::manifestData;
using autoupdatekit::ManifestExtensionCoding::decodeExtension;
using commandline::UsageError;

void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode) {
    platform::FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) platform::throwSystemError("create " + path);
    if (::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        platform::throwSystemError("write " + path);
    }
}

int runKeygen(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {});
    if (parsed.positionals.size() != 1) throw UsageError("keygen takes one prefix");
    std::string prefix = parsed.positionals[0];
    for (const auto& path : {prefix + ".key", prefix + ".pub"}) {
        if (::access(path.c_str(), F_OK) == 0) throw std::runtime_error(path + " exists; refusing to overwrite it");
    }
    auto key = platform::Ed25519PrivateKey::generate();
    writeNewFile(prefix + ".key", platform::privateKeyPEM(key), 0600);
    try {
        writeNewFile(prefix + ".pub", platform::base64Encode(key.publicKey().raw()) + "\n", 0644);
    } catch (...) {
        ::unlink((prefix + ".key").c_str());
        throw;
    }
    std::cout << "Wrote " << prefix << ".key (private, keep it secret) and " << prefix << ".pub (public)\n";
    return 0;
}

struct ArchiveFacts {
    std::string sha256;
    std::int64_t size = 0;
};

// Hashes the archive in blocks, so any size works in constant memory.
ArchiveFacts measureArchive(const std::string& path) {
    platform::FileDescriptor owned;
    int fd = STDIN_FILENO;
    if (path != "-") {
        owned = platform::FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!owned.valid()) platform::throwSystemError("open " + path);
        fd = owned.get();
    }
    platform::Sha256 hash;
    ArchiveFacts facts;
    platform::ReadBuffer buffer(1024 * 1024);
    platform::readInBlocks(fd, buffer, path, [&](const char* bytes, std::size_t size) {
        hash.update(bytes, size);
        facts.size += static_cast<std::int64_t>(size);
    });
    auto digest = hash.finish();
    facts.sha256 = platform::hexLowercase(digest.data(), digest.size());
    return facts;
}

// Releases are ordered by their dotted numbers; a component that is not a number
// compares as 0, which is rarely what the publisher meant.
void warnAboutNonNumericComponents(const std::string& option, const std::string& text) {
    for (const auto& component : autoupdatekit::AppVersion::nonNumericComponents(text)) {
        std::cerr << "autoupdate-manifest make: warning: " << option << " " << text << ": \"" << component
                  << "\" is not a number and compares as 0\n";
    }
}

std::int64_t parseInteger(const std::string& text, const std::string& option) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) throw UsageError(option + " takes a 64-bit integer");
    return value;
}

// The deltas' entries for the extension: each patch's size and digest measured, its
// trees, version and build read from its header, its URL beside the archive's.
std::vector<autoupdatekit::DeltaUpdate> describeDeltas(const std::vector<std::string>& options, const autoupdatekit::URL& archiveURL) {
    std::string folder = archiveURL.absoluteString().substr(0, archiveURL.absoluteString().rfind('/') + 1);
    std::vector<autoupdatekit::DeltaUpdate> deltas;
    for (const auto& option : options) {
        auto equals = option.find('=');
        if (equals == std::string::npos || equals == 0) throw UsageError("--delta takes FROM_VERSION=PATCH");
        std::string version = option.substr(0, equals);
        std::string path = option.substr(equals + 1);
        ArchiveFacts facts = measureArchive(path);
        platform::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.valid()) platform::throwSystemError("open " + path);
        auto header = autoupdatekit::DeltaFormat::Decoder(fd.get(), static_cast<std::uint64_t>(facts.size)).header(1024);
        if (header.fromVersion != version || header.fromBuild.empty()) {
            throw std::runtime_error(path + " was made from version " + header.fromVersion + " (build " + header.fromBuild +
                                     "), not from " + version + " with a build");
        }
        deltas.push_back({version, header.fromBuild, folder + platform::FileURL(path).lastPathComponent(), facts.size,
                          facts.sha256, platform::hexLowercase(header.fromTree.data(), header.fromTree.size()),
                          platform::hexLowercase(header.toTree.data(), header.toTree.size())});
    }
    return deltas;
}

int runMake(const std::vector<std::string>& givenArguments) {
    std::vector<std::string> arguments = givenArguments;
    auto deltaOptions = commandline::takeRepeatedOption(arguments, "--delta");
    auto steppingStones = commandline::takeRepeatedOption(arguments, "--stepping-stone");
    auto parsed = commandline::parse(arguments,
                                     {"--archive", "--url", "--app-name", "--bundle-id", "--version", "--build",
                                      "--minimum-system-version", "--release-date", "--release-notes-file",
                                      "--schema-version", "--archive-file-name", "--channel", "--critical-below",
                                      "--minimum-installed-version"},
                                     {"--critical"});
    if (!parsed.positionals.empty()) throw UsageError("unexpected argument " + parsed.positionals[0]);
    std::string archive = parsed.required("--archive");
    std::string fileName = parsed.value("--archive-file-name").value_or(archive == "-" ? "" : platform::FileURL(archive).lastPathComponent());
    if (fileName.empty()) throw UsageError("--archive - needs --archive-file-name");
    auto url = autoupdatekit::URL::parse(parsed.required("--url"));
    if (!url) throw UsageError("--url is not an absolute URL");
    if (url->scheme() != "http" && url->scheme() != "https") throw UsageError("--url must be an http or https URL");
    auto releaseDate = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    if (auto text = parsed.value("--release-date")) {
        auto date = platform::parseISO8601(*text);
        if (!date) throw UsageError("--release-date takes ISO 8601 text such as 2025-03-14T09:30:00Z");
        releaseDate = std::chrono::floor<std::chrono::seconds>(*date);
    }
    std::optional<std::string> notes;
    if (auto file = parsed.value("--release-notes-file")) notes = commandline::readInput(*file);
    ArchiveFacts facts = measureArchive(archive);

    autoupdatekit::UpdateManifestPayload payload{
        parsed.value("--schema-version") ? parseInteger(*parsed.value("--schema-version"), "--schema-version") : 1,
        parsed.required("--app-name"),
        parsed.required("--bundle-id"),
        parsed.required("--version"),
        parsed.required("--build"),
        parsed.value("--minimum-system-version"),
        *url,
        fileName,
        facts.sha256,
        facts.size,
        releaseDate,
        notes,
    };
    warnAboutNonNumericComponents("--version", payload.version);
    warnAboutNonNumericComponents("--build", payload.build);
    auto extension = releaseExtension(parsed, steppingStones, describeDeltas(deltaOptions, *url));
    if (extension == autoupdatekit::ManifestExtension{}) {
        std::cout << canonicalPayloadData(payload);
        return 0;
    }
    std::cout << autoupdatekit::ManifestExtensionCoding::manifestData({payload, ""}, extension);
    return 0;
}

int runDelta(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {"--from", "--to", "--output", "--level"}, {});
    if (!parsed.positionals.empty()) throw UsageError("unexpected argument " + parsed.positionals[0]);
    int level = 19;
    if (auto text = parsed.value("--level")) {
        auto value = parseInteger(*text, "--level");
        if (value < 1 || value > 22) throw UsageError("--level takes 1 to 22");
        level = static_cast<int>(value);
    }
    std::string output = parsed.required("--output");
    auto summary = deltawriter::write(parsed.required("--from"), parsed.required("--to"), output, level);
    std::cout << "Wrote " << output << ": " << summary.bytes << " bytes; " << summary.copies << " copied, "
              << summary.patches << " patched, " << summary.differences << " differenced, " << summary.wholeFiles << " whole, " << summary.removals << " removed\n"
              << "From tree: " << summary.fromTreeSHA256 << "\n"
              << "To tree:   " << summary.toTreeSHA256 << "\n";
    return 0;
}

int runSign(const std::vector<std::string>& arguments) {
    auto [keys, validFor, files] = signingOptions(arguments);
    if (files.empty()) throw UsageError("sign takes a payload file, and one more per other channel");
    // A document with an extension (as make writes it with deltas) is signed whole:
    // the payload and the extension, each with its own signature.
    auto [payload, extension] = readReleaseFile(commandline::readInput(files[0]));
    listChannels(extension, {files.begin() + 1, files.end()});
    if (!extension && keys.size() == 1 && !validFor) {
        std::cout << manifestData({payload, autoupdatekit::ManifestSignature::sign(payload, keys.front())});
        return 0;
    }
    if (!extension) extension.emplace();
    if (validFor) freshen(*extension, parseDuration(*validFor, "--expires-in"));
    std::cout << signedDocument(payload, *extension, keys);
    return 0;
}

int runVerify(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {"--public-key"}, {});
    if (parsed.positionals.size() != 1) throw UsageError("verify takes one manifest file");
    std::string keyFile = parsed.required("--public-key");
    auto key = platform::publicKeyFromText(commandline::readInput(keyFile), keyFile);
    std::string document = commandline::readInput(parsed.positionals[0]);
    auto manifest = makeDecoder().decodeManifest(document);
    auto extension = decodeExtension(document);
    std::string publicKey = platform::base64Encode(key.raw());
    if (!autoupdatekit::ManifestSignature::verify(manifest, publicKey)) {
        std::cout << "signature does not verify\n";
        return 1;
    }
    if (extension && !autoupdatekit::ManifestExtensionCoding::verify(manifest.payload, *extension, publicKey)) {
        std::cout << "extension signature does not verify\n";
        return 1;
    }
    std::cout << (extension ? "signature and extension signature verify\n" : "signature verifies\n");
    return 0;
}

std::string versionAndBuild(const autoupdatekit::UpdateManifestPayload& payload) {
    return payload.version + " (build " + payload.build + ")";
}

// What the extension signs beyond the payload, so a publisher can see what was signed.
void printExtension(const autoupdatekit::ManifestExtension& extension) {
    for (const auto& delta : extension.deltas) {
        std::cout << "Delta from:             " << delta.fromVersion << " (build " << delta.fromBuild << "), "
                  << delta.size << " bytes, " << delta.url << "\n";
    }
    std::cout << "Channel:                " << extension.channel.value_or("stable") << "\n";
    if (extension.expires) std::cout << "Expires:                " << platform::iso8601UTC(*extension.expires) << "\n";
    if (extension.sequence) std::cout << "Sequence:               " << *extension.sequence << "\n";
    if (extension.critical) {
        std::cout << "Critical:               "
                  << (extension.critical->belowVersion ? "below " + *extension.critical->belowVersion : "for every version") << "\n";
    }
    if (extension.minimumInstalledVersion) std::cout << "Applies from version:   " << *extension.minimumInstalledVersion << "\n";
    for (const auto& stone : extension.steppingStones) std::cout << "Stepping stone:         " << versionAndBuild(stone.payload) << "\n";
    for (const auto& [name, release] : extension.channels) {
        std::cout << "Channel " << name << ": " << versionAndBuild(release.payload) << (release.critical ? ", critical" : "") << "\n";
    }
    std::cout << "Extension signatures:   " << extension.signatures.size() << "\n";
}

int runPrint(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {"--canonical"});
    if (parsed.positionals.size() != 1) throw UsageError("print takes one manifest file");
    std::string document = commandline::readInput(parsed.positionals[0]);
    auto manifest = makeDecoder().decodeManifest(document);
    auto extension = decodeExtension(document);
    const auto& payload = manifest.payload;
    if (parsed.has("--canonical")) {
        std::cout << canonicalPayloadData(payload);
        return 0;
    }
    std::cout << "App name:               " << payload.appName << "\n"
              << "Bundle identifier:      " << payload.bundleIdentifier << "\n"
              << "Version:                " << versionAndBuild(payload) << "\n"
              << "Update identifier:      " << payload.version << "-" << payload.build << "\n"
              << "Minimum system version: " << payload.minimumSystemVersion.value_or("none") << "\n"
              << "Archive URL:            " << payload.archiveURL.absoluteString() << "\n"
              << "Archive file name:      " << payload.archiveFileName << "\n"
              << "Archive size:           " << payload.archiveSize << " bytes\n"
              << "Archive SHA-256:        " << payload.archiveSHA256 << "\n"
              << "Release date:           " << platform::iso8601UTC(payload.releaseDate) << "\n"
              << "Schema version:         " << payload.schemaVersion << "\n"
              << "Signature:              " << manifest.signature << "\n";
    if (extension) printExtension(*extension);
    if (payload.releaseNotes) std::cout << "Release notes:\n" << *payload.releaseNotes << "\n";
    return 0;
}

}  // namespace

const Command keygen{
    "usage: autoupdate-manifest keygen <prefix>\n"
    "Writes <prefix>.key (the Ed25519 private key as PKCS#8 PEM, mode 0600, readable by\n"
    "'openssl pkey') and <prefix>.pub (the base64 public key, for the app's\n"
    "AutoUpdateManifestPublicKey). Existing files are never overwritten.\n",
    runKeygen, 1};

const Command make{
    "usage: autoupdate-manifest make --archive <zip> --url <url> --app-name <name>\n"
    "         --bundle-id <id> --version <version> --build <build>\n"
    "         [--minimum-system-version <version>] [--release-date <iso8601>]\n"
    "         [--release-notes-file <file>] [--schema-version <n>]\n"
    "         [--archive-file-name <name>] [--delta <from-version>=<patch>]...\n"
    "         [--channel <name>] [--critical | --critical-below <version>]\n"
    "         [--minimum-installed-version <version> [--stepping-stone <file>]...]\n"
    "Writes the release's payload as JSON to standard output. The archive's SHA-256 and\n"
    "size are computed from the file, its file name taken from its path (give\n"
    "--archive-file-name when the archive is '-'); the date defaults to now. The URL\n"
    "must be http or https; a version or build component that is not a number (it\n"
    "compares as 0) is warned about on standard error. Each --delta (made by the delta\n"
    "command from that version's bundle) is listed in the manifest's extension with its\n"
    "size, SHA-256, tree digests and a URL in the archive URL's folder; the output is\n"
    "then the manifest document with empty signatures, for sign to fill. So it is with\n"
    "a channel (none: stable), a critical mark (for every installed version, or those\n"
    "below one), or the lowest installed version that may apply the release; each\n"
    "--stepping-stone (a file make wrote for an older release) is what older installs\n"
    "are offered instead.\n",
    runMake, 1};

const Command delta{
    "usage: autoupdate-manifest delta --from <old.app> --to <new.app> --output <patch>\n"
    "         [--level <1-22>]\n"
    "Writes the delta that rebuilds the new bundle from the old one: each file copied\n"
    "from the old bundle (under any path), patched against an old file (zstd's matching,\n"
    "or for executables byte-wise differences, whichever is smaller) or compressed\n"
    "alone, with folders, links, modes and removals, and the digests of both trees.\n"
    "The output must not exist; zstd's level defaults to 19.\n",
    runDelta, 1};

const Command sign{
    "usage: autoupdate-manifest sign --key <keyfile> [--key <keyfile>]... [--expires-in <duration>]\n"
    "         <payload.json> [<other-channel.json>]...\n"
    "Signs the payload with the private key (PKCS#8 PEM, or the older base64 form) and\n"
    "writes the manifest document (payload and signature) to standard output. Given the\n"
    "document that make writes with deltas, signs its payload and its extension. Each\n"
    "further file (as make writes it for another channel) is listed in the extension\n"
    "as its channel's release; the first file's payload is what older clients read, so\n"
    "give stable's first. A public key given as --key is refused. With several keys (a\n"
    "key rotation), the first makes the payload's signature, which older clients check:\n"
    "list the key they hold first. Every key signs the extension, which then names the\n"
    "payload's bundle identifier. --expires-in (30d; d, h, m or s) adds a signed expiry\n"
    "of now plus the duration and a sequence number, the seconds since the epoch;\n"
    "refresh renews both.\n",
    runSign, 1};

const Command verify{
    "usage: autoupdate-manifest verify --public-key <pubfile> <manifest.json>\n"
    "The public key is base64 (as keygen writes it) or PEM. Exits 0 when the signature\n"
    "(and the extension's, when there is one) verifies, 1 when one does not, and 2\n"
    "with the reason when the manifest or the key cannot be read.\n",
    runVerify, 2};

const Command print{
    "usage: autoupdate-manifest print [--canonical] <manifest.json>\n"
    "Shows the manifest's fields and what its extension signs beside them; with\n"
    "--canonical, writes exactly the canonical payload bytes that the signature covers.\n",
    runPrint, 1};

}  // namespace manifestcommands
