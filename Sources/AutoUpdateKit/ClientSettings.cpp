#include "ClientSettings.hpp"

#include "Platform/Bundle.hpp"

#include <strings.h>

namespace autoupdatekit {
namespace {

std::optional<std::string> nonEmptyText(const platform::PropertyValue& value) {
    const auto* text = value.getIf<std::string>();
    if (text == nullptr || text->empty()) return std::nullopt;
    return *text;
}

std::optional<bool> flagValue(const platform::PropertyValue& value) {
    if (const auto* flag = value.getIf<bool>()) return *flag;
    if (const auto* number = value.getIf<std::int64_t>()) return *number != 0;
    const auto* text = value.getIf<std::string>();
    if (text == nullptr) return std::nullopt;
    for (const char* yes : {"true", "yes", "1"}) if (::strcasecmp(text->c_str(), yes) == 0) return true;
    for (const char* no : {"false", "no", "0"}) if (::strcasecmp(text->c_str(), no) == 0) return false;
    return std::nullopt;
}

std::optional<std::vector<std::string>> textsValue(const platform::PropertyValue& value) {
    const auto* array = value.getIf<platform::PropertyArray>();
    if (array == nullptr || array->empty()) return std::nullopt;
    std::vector<std::string> texts;
    for (const auto& element : *array) {
        auto text = nonEmptyText(element);
        if (!text) return std::nullopt;
        texts.push_back(*text);
    }
    return texts;
}

}  // namespace

std::optional<std::int64_t> integerValue(const platform::PropertyValue& value) {
    if (const auto* number = value.getIf<std::int64_t>()) return *number;
    const auto* text = value.getIf<std::string>();
    if (text == nullptr) return std::nullopt;
    std::size_t digits = !text->empty() && text->front() == '-' ? 1 : 0;
    if (text->size() == digits || text->size() - digits > 18) return std::nullopt;
    if (text->find_first_not_of("0123456789", digits) != std::string::npos) return std::nullopt;
    return std::stoll(*text);
}

ClientSettings::ClientSettings(const platform::Bundle& bundle) : info_(bundle.infoDictionary()) {
    auto identifier = bundle.bundleIdentifier();
    if (!identifier) return;
    try {
        defaults_.emplace(*identifier);
    } catch (const std::invalid_argument&) {
        // an identifier that is no defaults domain stores nothing
    }
}

template <typename Reader>
auto ClientSettings::lookUp(const std::string& key, Reader read) const -> decltype(read(platform::PropertyValue())) {
    if (auto stored = record(key)) {
        if (auto value = read(*stored)) return value;
    }
    auto found = info_.find(key);
    if (found == info_.end()) return std::nullopt;
    return read(found->second);
}

std::optional<std::string> ClientSettings::text(const std::string& key) const { return lookUp(key, nonEmptyText); }

std::optional<std::int64_t> ClientSettings::integer(const std::string& key) const { return lookUp(key, integerValue); }

std::optional<bool> ClientSettings::flag(const std::string& key) const { return lookUp(key, flagValue); }

std::optional<std::vector<std::string>> ClientSettings::texts(const std::string& key) const { return lookUp(key, textsValue); }

std::optional<platform::PropertyValue> ClientSettings::record(const std::string& key) const {
    if (!defaults_) return std::nullopt;
    try {
        return defaults_->object(key);
    } catch (const platform::PropertyListError&) {
        return std::nullopt;  // a defaults file that does not parse holds no usable value; it is left as it is
    }
}

void ClientSettings::setRecord(const std::string& key, const platform::PropertyValue& value) {
    if (!defaults_) throw std::invalid_argument("the app has no bundle identifier to keep its update settings under");
    defaults_->set(key, value);
}

void ClientSettings::removeRecord(const std::string& key) {
    if (defaults_) defaults_->removeObject(key);
}

}  // namespace autoupdatekit
