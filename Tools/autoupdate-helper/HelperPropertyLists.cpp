#include "HelperPropertyLists.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/TrustStore.hpp"

#include <stdexcept>

namespace helpertool {
namespace {

namespace Defaults = autoupdatekit::PrivilegedUpdateDefaults;

const platform::PropertyDictionary& dictionaryOf(const platform::PropertyValue& value, const std::string& origin) {
    const auto* dictionary = value.getIf<platform::PropertyDictionary>();
    if (dictionary == nullptr) throw std::runtime_error(origin + ": not a property list dictionary");
    return *dictionary;
}

// The entry trimmed, as the helper reads it.
std::string requiredString(const platform::PropertyDictionary& info, const char* key, const std::string& origin) {
    const std::string* value = platform::PropertyList::stringValue(info, key);
    std::string trimmed = value ? platform::trimmingWhitespaceAndNewlines(*value) : "";
    if (trimmed.empty()) throw std::runtime_error(origin + ": missing policy value " + key + " (a non-blank string)");
    return trimmed;
}

// The entry under key when it holds a T, else nullptr.
template <typename T>
const T* entryOf(const platform::PropertyDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : found->second.getIf<T>();
}

}  // namespace

std::string checkInfoPlist(const platform::PropertyValue& value, const std::string& origin) {
    const auto& info = dictionaryOf(value, origin);
    requiredString(info, Defaults::allowedBundleIdentifierKey, origin);
    std::string team = requiredString(info, Defaults::allowedTeamIdentifierKey, origin);
    std::string destination = requiredString(info, Defaults::allowedDestinationPathKey, origin);
    std::string serviceName = requiredString(info, Defaults::machServiceNameKey, origin);
    requiredString(info, Defaults::logFilePathKey, origin);
    requiredString(info, Defaults::launchAgentLabelKey, origin);
    if (!platform::codesigning::isValidTeamIdentifier(team)) {
        throw std::runtime_error(origin + ": team identifier " + team + " is not upper-case letters and digits");
    }
    if (destination.front() != '/') throw std::runtime_error(origin + ": destination " + destination + " is not an absolute path");
    // The service name is also the helper's file name and its socket's.
    if (serviceName.find('/') != std::string::npos || serviceName.front() == '.') {
        throw std::runtime_error(origin + ": service name " + serviceName + " is not a plain name");
    }
    return serviceName;
}

void checkLaunchdPlist(const platform::PropertyValue& value, const std::string& serviceName, const std::string& origin) {
    const auto& launchd = dictionaryOf(value, origin);
    const std::string* label = platform::PropertyList::stringValue(launchd, "Label");
    if (label == nullptr || *label != serviceName) {
        throw std::runtime_error(origin + ": Label must be the helper's service name " + serviceName);
    }
    const auto* services = entryOf<platform::PropertyDictionary>(launchd, "MachServices");
    const bool* served = services ? entryOf<bool>(*services, serviceName) : nullptr;
    if (served == nullptr || !*served) {
        throw std::runtime_error(origin + ": MachServices must map " + serviceName + " to true");
    }
    std::string program = "/Library/PrivilegedHelperTools/" + serviceName;
    const auto* list = entryOf<platform::PropertyArray>(launchd, "ProgramArguments");
    if (list == nullptr || list->empty() || list->front() != platform::PropertyValue(program)) {
        throw std::runtime_error(origin + ": ProgramArguments must start with " + program);
    }
}

}  // namespace helpertool
