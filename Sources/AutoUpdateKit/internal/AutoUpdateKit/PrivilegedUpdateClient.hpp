#pragma once
// The application's side of the privileged helper: one connection per call to the
// helper's system service, one request, one reply, then the connection is closed.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include <exception>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT PrivilegedUpdateClientError : public std::exception {
public:
    enum class Case { helperRejected, helperUnavailable, invalidRemoteProxy };

    static PrivilegedUpdateClientError helperRejected(const std::string& message);
    static PrivilegedUpdateClientError helperUnavailable(const std::string& detail);
    static PrivilegedUpdateClientError invalidRemoteProxy();

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    PrivilegedUpdateClientError(Case errorCase, std::string description) : case_(errorCase), description_(std::move(description)) {}
    Case case_;
    std::string description_;
};

class AUTOUPDATEKIT_EXPORT PrivilegedUpdateClient {
public:
    explicit PrivilegedUpdateClient(std::string machServiceName) : machServiceName_(std::move(machServiceName)) {}

    const std::string& machServiceName() const noexcept { return machServiceName_; }

    // Returns once the helper accepted the request (the install happens later).
    void scheduleInstall(const PrivilegedUpdateRequest& request) const;
    void installSystemLaunchAgent() const;

private:
    template <typename Body>
    void withHelperProxy(Body body) const;

    std::string machServiceName_;
};

}  // namespace autoupdatekit
