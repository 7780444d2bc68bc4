#include "Platform/IPC/KeyedArchive.hpp"

#include <limits>

namespace platform::ipc {
namespace {

constexpr const char* classKey = "$class";

}  // namespace

KeyedArchiver::KeyedArchiver(const std::string& className) { archive_[classKey] = className; }

void KeyedArchiver::encodeString(const std::string& value, const std::string& key) { archive_[key] = value; }

void KeyedArchiver::encodeInt32(std::int32_t value, const std::string& key) { archive_[key] = std::int64_t{value}; }

void KeyedArchiver::encodeBool(bool value, const std::string& key) { archive_[key] = value; }

KeyedUnarchiver::KeyedUnarchiver(const PropertyValue& archive, const std::string& expectedClassName) {
    const auto* dictionary = archive.getIf<PropertyDictionary>();
    if (dictionary == nullptr) return;
    const std::string* className = PropertyList::stringValue(*dictionary, classKey);
    if (className != nullptr && *className == expectedClassName) dictionary_ = dictionary;
}

std::optional<std::string> KeyedUnarchiver::decodeString(const std::string& key) const {
    if (dictionary_ == nullptr) return std::nullopt;
    const std::string* value = PropertyList::stringValue(*dictionary_, key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::int32_t> KeyedUnarchiver::decodeInt32(const std::string& key) const {
    if (dictionary_ == nullptr) return std::nullopt;
    auto found = dictionary_->find(key);
    if (found == dictionary_->end()) return 0;
    const auto* value = found->second.getIf<std::int64_t>();
    if (value == nullptr || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::optional<bool> KeyedUnarchiver::decodeBool(const std::string& key) const {
    if (dictionary_ == nullptr) return std::nullopt;
    auto found = dictionary_->find(key);
    if (found == dictionary_->end()) return false;
    const auto* value = found->second.getIf<bool>();
    return value ? std::optional<bool>(*value) : std::nullopt;
}

}  // namespace platform::ipc
