#pragma once
// User defaults: one property-list file per domain at
// $HOME/Library/Preferences/<domain>.plist, read on every lookup and written straight
// to disk atomically, so there is never anything left to flush.

#include "Platform/PropertyList.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

class UserDefaults {
public:
    // A domain is a reverse-DNS name; one holding "/" or starting with "." throws
    // std::invalid_argument.
    explicit UserDefaults(std::string domain);

    const std::string& domain() const noexcept { return domain_; }
    std::string filePath() const;

    // The stored value, or nothing. A file that does not parse throws
    // PropertyListError: a corrupt file is reported, never taken as empty.
    std::optional<PropertyValue> object(const std::string& key) const;
    // The stored value when it is a string.
    std::optional<std::string> string(const std::string& key) const;

    void set(const std::string& key, const PropertyValue& value);
    void removeObject(const std::string& key);

    // Writes happen at once, so this only reports success.
    bool synchronize() const noexcept { return true; }

    // The whole domain; empty when the file does not exist.
    PropertyDictionary dictionary() const;

private:
    void store(const PropertyDictionary& values);

    std::string domain_;
};

}  // namespace platform
