#include "Platform/UserDefaults.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/UserDirectories.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace platform {

UserDefaults::UserDefaults(std::string domain) : domain_(std::move(domain)) {
    if (domain_.empty() || domain_.front() == '.' || domain_.find('/') != std::string::npos) {
        throw std::invalid_argument("invalid defaults domain \"" + domain_ + "\"");
    }
}

std::string UserDefaults::filePath() const { return homeDirectory() + "/Library/Preferences/" + domain_ + ".plist"; }

PropertyDictionary UserDefaults::dictionary() const {
    std::string path = filePath();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return {};
        throwSystemError("stat " + path);
    }
    PropertyValue stored = PropertyList::readFile(path);
    const auto* values = stored.getIf<PropertyDictionary>();
    if (values == nullptr) throw PropertyListError(path + ": top level is not a dictionary");
    return *values;
}

std::optional<PropertyValue> UserDefaults::object(const std::string& key) const {
    PropertyDictionary values = dictionary();
    auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto value = object(key);
    if (!value) return std::nullopt;
    const auto* text = value->getIf<std::string>();
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

void UserDefaults::set(const std::string& key, const PropertyValue& value) {
    PropertyDictionary values = dictionary();
    values.insert_or_assign(key, value);
    store(values);
}

void UserDefaults::removeObject(const std::string& key) {
    PropertyDictionary values = dictionary();
    if (values.erase(key) != 0) store(values);
}

void UserDefaults::store(const PropertyDictionary& values) {
    std::string path = filePath();
    createDirectories(path.substr(0, path.rfind('/')), 0700);
    writeFileAtomically(path, PropertyList::xml(PropertyValue(values)), 0600);
}

}  // namespace platform
