#include "Platform/CodeSeal.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/SystemError.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform::codesigning {
namespace {

constexpr const char* sealFileName = "CodeResources";

const char* typeName(SealedEntry::Type type) {
    switch (type) {
    case SealedEntry::Type::file: return "file";
    case SealedEntry::Type::directory: return "dir";
    case SealedEntry::Type::symbolicLink: return "link";
    }
    return "";
}

std::optional<SealedEntry::Type> typeNamed(const std::string& name) {
    if (name == "file") return SealedEntry::Type::file;
    if (name == "dir") return SealedEntry::Type::directory;
    if (name == "link") return SealedEntry::Type::symbolicLink;
    return std::nullopt;
}

// Length-prefixed, so no choice of names can make two seals share canonical bytes.
void appendField(std::string& out, const std::string& value) {
    out += std::to_string(value.size());
    out += ':';
    out += value;
    out += ',';
}

bool hasSuffix(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string readLink(const std::string& path) {
    std::string target(4096, '\0');
    ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) throwSystemError("readlink " + path);
    target.resize(static_cast<std::size_t>(length));
    return target;
}

// The seal file is left out; its folder is walked (so anything added there is caught)
// but not listed, since it does not exist yet when a bundle is first sealed.
void walk(const std::string& root, const std::string& relative, const std::string& sealFolderPath, BundleContents& out) {
    std::string folder = relative.empty() ? root : root + "/" + relative;
    std::vector<std::string> names = directoryEntries(folder);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        if (path == sealFolderPath + "/" + sealFileName) continue;
        std::string absolute = root + "/" + path;
        struct stat status {};
        if (::lstat(absolute.c_str(), &status) != 0) throwSystemError("lstat " + absolute);
        auto mode = static_cast<unsigned>(status.st_mode & 07777);
        if (S_ISREG(status.st_mode)) {
            out.entries.push_back({path, SealedEntry::Type::file, mode, {}});
        } else if (S_ISLNK(status.st_mode)) {
            out.entries.push_back({path, SealedEntry::Type::symbolicLink, 0, readLink(absolute)});
        } else if (S_ISDIR(status.st_mode)) {
            if (path != sealFolderPath) out.entries.push_back({path, SealedEntry::Type::directory, mode, {}});
            if (hasSuffix(name, ".app") || hasSuffix(name, ".framework")) out.nestedBundles.push_back(path);
            walk(root, path, sealFolderPath, out);
        } else {
            out.unsupported.push_back(path);
        }
    }
}

// Hashes the files of the scan on a few threads; each thread reads in fixed blocks.
void hashFiles(const std::string& root, std::vector<SealedEntry>& entries) {
    std::vector<SealedEntry*> files;
    for (auto& entry : entries) {
        if (entry.type == SealedEntry::Type::file) files.push_back(&entry);
    }
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        try {
            for (std::size_t index = next++; index < files.size(); index = next++) {
                Sha256Digest digest = sha256OfFile(root + "/" + files[index]->path);
                files[index]->content = hexLowercase(digest.data(), digest.size());
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(failureLock);
            if (!failure) failure = std::current_exception();
            next = files.size();
        }
    };
    unsigned threadCount = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> threads;
    for (unsigned index = 1; index < threadCount; ++index) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
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

std::string sealFolder(const std::string& bundlePath) {
    struct stat status {};
    bool hasContents = ::lstat((bundlePath + "/Contents").c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    return hasContents ? "Contents/_CodeSignature" : "_CodeSignature";
}

std::string sealPath(const std::string& bundlePath) {
    return bundlePath + "/" + sealFolder(bundlePath) + "/" + sealFileName;
}

BundleContents scanBundle(const std::string& bundlePath) {
    BundleContents contents;
    walk(bundlePath, "", sealFolder(bundlePath), contents);
    hashFiles(bundlePath, contents.entries);
    return contents;
}

std::string CodeSeal::canonicalBytes() const {
    std::string out = "autoupdatekit-code-seal-1\n";
    appendField(out, identifier);
    appendField(out, teamIdentifier.value_or(""));
    appendField(out, publicKey ? base64Encode(*publicKey) : "");
    out += '\n';
    for (const auto& entry : entries) {
        appendField(out, typeName(entry.type));
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
                                           {"type", typeName(entry.type)},
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
        auto type = typeNamed(require<std::string>(*file, "type"));
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
