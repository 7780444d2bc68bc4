#include "ManifestSigning.hpp"

#include "CommandLine.hpp"
#include "ManifestCommands.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/KeyFile.hpp"

#include <algorithm>
#include <charconv>
#include <iostream>

namespace manifestcommands {
namespace {

using autoupdatekit::ManifestCoding::makeDecoder;
using commandline::UsageError;

// Longer would be no expiry at all.
constexpr std::chrono::seconds longestValidity = std::chrono::days(3650);

int runRefresh(const std::vector<std::string>& arguments) {
    auto [keys, validFor, files] = signingOptions(arguments);
    if (files.size() != 1) throw UsageError("refresh takes one manifest file");
    std::string document = commandline::readInput(files[0]);
    auto manifest = makeDecoder().decodeManifest(document);
    // Re-signing whatever a mirror changed would launder it: the manifest must already
    // be this publisher's.
    bool ours = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
        auto publicKey = platform::Ed25519PrivateKey(*platform::base64Decode(key)).publicKey();
        return autoupdatekit::ManifestSignature::verify(manifest, platform::base64Encode(publicKey.raw()));
    });
    if (!ours) throw std::runtime_error("the manifest's signature is not by one of the given keys; sign its payload instead");
    auto extension = autoupdatekit::ManifestExtensionCoding::decodeExtension(document).value_or(autoupdatekit::ManifestExtension{});
    freshen(extension, parseDuration(validFor.value_or("30d"), "--expires-in"));
    std::cout << signedDocument(manifest.payload, extension, keys);
    return 0;
}

}  // namespace

SigningOptions signingOptions(const std::vector<std::string>& givenArguments) {
    std::vector<std::string> arguments = givenArguments;
    SigningOptions options;
    for (const auto& file : commandline::takeRepeatedOption(arguments, "--key")) {
        options.keys.push_back(platform::base64Encode(platform::privateKeyFromText(commandline::readInput(file), file).seed()));
    }
    if (options.keys.empty()) throw UsageError("--key is required");
    auto parsed = commandline::parse(arguments, {"--expires-in"}, {});
    options.validFor = parsed.value("--expires-in");
    options.files = parsed.positionals;
    return options;
}

std::chrono::seconds parseDuration(const std::string& text, const std::string& option) {
    const std::pair<char, std::chrono::seconds> units[] = {
        {'d', std::chrono::days(1)}, {'h', std::chrono::hours(1)}, {'m', std::chrono::minutes(1)}, {'s', std::chrono::seconds(1)}};
    auto unit = std::find_if(std::begin(units), std::end(units), [&](const auto& known) { return !text.empty() && text.back() == known.first; });
    std::int64_t count = 0;
    bool parsed = false;
    if (unit != std::end(units)) {
        const char* end = text.data() + text.size() - 1;
        auto [stop, error] = std::from_chars(text.data(), end, count);
        parsed = error == std::errc() && stop == end && count > 0 && count <= longestValidity / unit->second;
    }
    if (!parsed) throw UsageError(option + " takes a positive count of d, h, m or s up to ten years, such as 30d");
    return unit->second * count;
}

void freshen(autoupdatekit::ManifestExtension& extension, std::chrono::seconds validFor) {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    extension.expires = now + validFor;
    std::int64_t seconds = now.time_since_epoch().count();
    extension.sequence = extension.sequence && *extension.sequence >= seconds ? *extension.sequence + 1 : seconds;
}

std::string signedDocument(const autoupdatekit::UpdateManifestPayload& payload, autoupdatekit::ManifestExtension extension,
                           const std::vector<std::string>& keys) {
    extension.bundleIdentifier = payload.bundleIdentifier;
    extension.signatures.clear();
    for (const auto& key : keys) extension.signatures.push_back(autoupdatekit::ManifestExtensionCoding::sign(payload, extension, key));
    autoupdatekit::SignedUpdateManifest manifest{payload, autoupdatekit::ManifestSignature::sign(payload, keys.front())};
    return autoupdatekit::ManifestExtensionCoding::manifestData(manifest, extension);
}

const Command refresh{
    "usage: autoupdate-manifest refresh --key <keyfile> [--key <keyfile>]... [--expires-in <duration>]\n"
    "         <manifest.json>\n"
    "Re-signs a manifest with a new expiry (now plus the duration: 30d by default; d, h, m\n"
    "or s) and the next sequence number (the seconds since the epoch, or one more than\n"
    "the manifest's when that is not lower), keeping the payload and every other signed\n"
    "member, and writes it to standard output. The payload's signature must already be\n"
    "by one of the keys; the first key makes it again, every key signs the extension.\n",
    runRefresh, 1};

}  // namespace manifestcommands
