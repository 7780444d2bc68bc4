#include "TrustedCertificate.hpp"

#include "SigningKeys.hpp"

#include <curl/curl.h>
#include <memory>
#include <stdexcept>

namespace testsupport {
namespace {

// The CA file libcurl verifies servers against when a transfer names none.
std::string curlCAFile() {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
    char* path = nullptr;
    if (handle == nullptr || curl_easy_getinfo(handle.get(), CURLINFO_CAINFO, &path) != CURLE_OK || path == nullptr) {
        throw std::runtime_error("libcurl names no default CA file");
    }
    return path;
}

}  // namespace

TrustedCertificate::TrustedCertificate() {
    // For 127.0.0.1 by address, its own issuer and a CA, so the bundle that holds it is
    // all a verifier needs.
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
             "-addext", "subjectAltName=IP:127.0.0.1", "-addext", "basicConstraints=critical,CA:TRUE", "-keyout", keyFile(), "-out", certificateFile()});
    trusted_ = std::make_unique<BindMount>(certificateFile(), curlCAFile());
}

}  // namespace testsupport
