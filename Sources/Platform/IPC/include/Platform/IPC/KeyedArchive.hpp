#pragma once
// Keyed archives of records for IPC messages: a dictionary holding the record's class
// name under "$class" and its keyed values. Decoding checks the class name and the type
// of every value it reads.

#include "Platform/Export.hpp"
#include "Platform/PropertyList.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace platform::ipc {

class PLATFORM_EXPORT KeyedArchiver {
public:
    explicit KeyedArchiver(const std::string& className);
    void encodeString(const std::string& value, const std::string& key);
    void encodeInt32(std::int32_t value, const std::string& key);
    void encodeBool(bool value, const std::string& key);
    const PropertyDictionary& archive() const noexcept { return archive_; }

private:
    PropertyDictionary archive_;
};

class PLATFORM_EXPORT KeyedUnarchiver {
public:
    // An archive of another class, or no dictionary at all, decodes nothing: every
    // read below then fails.
    KeyedUnarchiver(const PropertyValue& archive, const std::string& expectedClassName);

    bool hasExpectedClass() const noexcept { return dictionary_ != nullptr; }
    // A string, or nothing when absent or of another type.
    std::optional<std::string> decodeString(const std::string& key) const;
    // Absent gives 0; a value that is not an integer in 32-bit range fails.
    std::optional<std::int32_t> decodeInt32(const std::string& key) const;
    // Absent gives false; a value that is not a Boolean fails.
    std::optional<bool> decodeBool(const std::string& key) const;

private:
    const PropertyDictionary* dictionary_ = nullptr;
};

}  // namespace platform::ipc
