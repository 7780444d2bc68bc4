#include "Platform/CodeSeal.hpp"

#include "Platform/CodeSealLayout.hpp"
#include "Platform/PropertyList.hpp"

#include <sys/stat.h>

namespace platform::codesigning {
namespace {

constexpr const char* sealFileName = "CodeResources";

// Length-prefixed, so no choice of names can make two seals share canonical bytes.
void appendField(std::string& out, const std::string& value) {
    out += std::to_string(value.size());
    out += ':';
    out += value;
    out += ',';
}

template <typename T>
const T& require(const PropertyDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    const T* value = found == dictionary.end() ? nullptr : found->second.getIf<T>();
    if (value == nullptr) throw SealFormatError("missing or mistyped \"" + key + "\"");
    return *value;
}

template <typename T>
const T* optional(const PropertyDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    if (found == dictionary.end()) return nullptr;
    const T* value = found->second.getIf<T>();
    if (value == nullptr) throw SealFormatError("mistyped \"" + key + "\"");
    return value;
}

}  // namespace

const char* sealedEntryTypeName(SealedEntry::Type type) {
    switch (type) {
    case SealedEntry::Type::file: return "file";
    case SealedEntry::Type::directory: return "dir";
    case SealedEntry::Type::symbolicLink: return "link";
    }
    return "";
}

std::optional<SealedEntry::Type> sealedEntryTypeNamed(std::string_view name) {
    if (name == "file") return SealedEntry::Type::file;
    if (name == "dir") return SealedEntry::Type::directory;
    if (name == "link") return SealedEntry::Type::symbolicLink;
    return std::nullopt;
}

std::string sealFolder(const std::string& bundlePath) {
    struct stat status {};
    bool hasContents = ::lstat((bundlePath + "/Contents").c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    return hasContents ? "Contents/_CodeSignature" : "_CodeSignature";
}

std::string sealPath(const std::string& bundlePath) {
    return bundlePath + "/" + sealFolder(bundlePath) + "/" + sealFileName;
}

std::string CodeSeal::canonicalBytes() const {
    std::string out = "autoupdatekit-code-seal-1\n";
    appendField(out, identifier);
    appendField(out, teamIdentifier.value_or(""));
    appendField(out, publicKey ? base64Encode(*publicKey) : "");
    out += '\n';
    for (const auto& entry : entries) {
        appendField(out, sealedEntryTypeName(entry.type));
        appendField(out, std::to_string(entry.mode));
        appendField(out, entry.path);
        appendField(out, entry.content);
        out += '\n';
    }
    out += "nested\n";
    for (const auto& seal : nested) {
        appendField(out, seal.path);
        appendField(out, seal.sealDigest);
        out += '\n';
    }
    return out;
}

std::string CodeSeal::propertyList() const {
    PropertyArray files;
    for (const auto& entry : entries) {
        files.push_back(PropertyDictionary{{"path", entry.path},
                                           {"type", sealedEntryTypeName(entry.type)},
                                           {"mode", static_cast<std::int64_t>(entry.mode)},
                                           {"content", entry.content}});
    }
    PropertyArray nestedSeals;
    for (const auto& seal : nested) nestedSeals.push_back(PropertyDictionary{{"path", seal.path}, {"seal", seal.sealDigest}});
    PropertyDictionary root{{"version", 1}, {"identifier", identifier}, {"files", files}, {"nested", nestedSeals}};
    if (teamIdentifier) root["team"] = *teamIdentifier;
    if (publicKey) root["publicKey"] = base64Encode(*publicKey);
    if (!signature.empty()) root["signature"] = base64Encode(signature);
    return PropertyList::xml(PropertyValue(root));
}

CodeSeal CodeSeal::fromPropertyList(const std::string& bytes) {
    if (auto seal = readWrittenSealLayout(bytes)) return std::move(*seal);
    PropertyValue value;
    try {
        value = PropertyList::read(bytes);
    } catch (const PropertyListError& error) {
        throw SealFormatError(error.what());
    }
    const auto* root = value.getIf<PropertyDictionary>();
    if (root == nullptr) throw SealFormatError("top level is not a dictionary");
    if (require<std::int64_t>(*root, "version") != 1) throw SealFormatError("unknown seal version");

    CodeSeal seal;
    seal.identifier = require<std::string>(*root, "identifier");
    if (const auto* team = optional<std::string>(*root, "team")) seal.teamIdentifier = *team;
    auto decode = [](const std::string& text, const char* key) {
        auto decoded = base64Decode(text);
        if (!decoded) throw SealFormatError(std::string("\"") + key + "\" is not base64");
        return *decoded;
    };
    if (const auto* key = optional<std::string>(*root, "publicKey")) seal.publicKey = decode(*key, "publicKey");
    if (const auto* signature = optional<std::string>(*root, "signature")) seal.signature = decode(*signature, "signature");

    for (const auto& item : require<PropertyArray>(*root, "files")) {
        const auto* file = item.getIf<PropertyDictionary>();
        if (file == nullptr) throw SealFormatError("a file record is not a dictionary");
        auto type = sealedEntryTypeNamed(require<std::string>(*file, "type"));
        if (!type) throw SealFormatError("unknown entry type");
        auto mode = require<std::int64_t>(*file, "mode");
        if (mode < 0 || mode > 07777) throw SealFormatError("invalid mode");
        seal.entries.push_back({require<std::string>(*file, "path"), *type, static_cast<unsigned>(mode),
                                require<std::string>(*file, "content")});
    }
    for (const auto& item : require<PropertyArray>(*root, "nested")) {
        const auto* nestedSeal = item.getIf<PropertyDictionary>();
        if (nestedSeal == nullptr) throw SealFormatError("a nested record is not a dictionary");
        seal.nested.push_back({require<std::string>(*nestedSeal, "path"), require<std::string>(*nestedSeal, "seal")});
    }
    return seal;
}

}  // namespace platform::codesigning
