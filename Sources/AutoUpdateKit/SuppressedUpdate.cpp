#include "SuppressedUpdate.hpp"

#include "Platform/Bundle.hpp"

namespace autoupdatekit {

SuppressedUpdate::SuppressedUpdate(const platform::Bundle& bundle) {
    auto identifier = bundle.bundleIdentifier();
    if (!identifier) return;
    try {
        defaults_.emplace(*identifier);
    } catch (const std::invalid_argument&) {
        return;  // an identifier that is no defaults domain stores nothing
    }
    try {
        stored_ = defaults_->object(suppressedUpdateIdentifierKey);
    } catch (const platform::PropertyListError& error) {
        // Refusing every check over it would block updates for good.
        unreadable_ = error.what();
    }
}

bool SuppressedUpdate::matches(const std::string& updateIdentifier) const {
    const std::string* text = stored_ ? stored_->getIf<std::string>() : nullptr;
    return text != nullptr && *text == updateIdentifier;
}

void SuppressedUpdate::clear() {
    if (!stored_) return;
    defaults_->removeObject(suppressedUpdateIdentifierKey);
    defaults_->synchronize();
    stored_.reset();
}

}  // namespace autoupdatekit
