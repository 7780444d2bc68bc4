#include "TransportFailure.hpp"

namespace autoupdatekit {

void throwTransportFailure(const platform::TransportError& error, const URL& url) {
    if (dynamic_cast<const platform::TransferCancelled*>(&error) != nullptr) throw AutoUpdateError::cancelled();
    switch (error.kind()) {
        case platform::TransportError::Kind::unreachable: throw AutoUpdateError::serverUnreachable(url, error.what());
        case platform::TransportError::Kind::secureConnection: throw AutoUpdateError::secureConnectionFailed(url, error.what());
        case platform::TransportError::Kind::other: break;
    }
    throw AutoUpdateError::transferFailed(url, error.what());
}

}  // namespace autoupdatekit
