#include "SuppressedUpdate.hpp"

#include "Platform/Bundle.hpp"

namespace autoupdatekit {

SuppressedUpdate::SuppressedUpdate(const platform::Bundle& bundle) {
    auto identifier = bundle.bundleIdentifier();
    if (!identifier) return;
    try {
        defaults_.emplace(*identifier);
    } catch (const std::invalid_argument&) {
        // An identifier that is no defaults domain stores nothing.
    }
}

bool SuppressedUpdate::matches(const std::string& updateIdentifier) const {
    return defaults_ && defaults_->string(suppressedUpdateIdentifierKey) == updateIdentifier;
}

void SuppressedUpdate::clear() {
    if (defaults_ && defaults_->object(suppressedUpdateIdentifierKey)) {
        defaults_->removeObject(suppressedUpdateIdentifierKey);
        defaults_->synchronize();
    }
}

}  // namespace autoupdatekit
