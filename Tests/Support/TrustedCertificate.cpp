#include "TrustedCertificate.hpp"

#include "Files.hpp"

#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Memory = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Extension = std::unique_ptr<X509_EXTENSION, decltype(&X509_EXTENSION_free)>;
using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

void require(bool done, const char* what) {
    if (!done) throw std::runtime_error(std::string("test certificate: ") + what + " failed");
}

// Valid for a day around now, for 127.0.0.1 by address, its own issuer and a CA, so
// the bundle that holds it is all a verifier needs.
Certificate selfSigned(EVP_PKEY* key) {
    Certificate certificate(X509_new(), &X509_free);
    require(certificate != nullptr, "X509_new");
    X509* made = certificate.get();
    X509_NAME* name = X509_get_subject_name(made);
    require(X509_set_version(made, X509_VERSION_3) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(made), 1) == 1 &&
                X509_gmtime_adj(X509_getm_notBefore(made), -3600) != nullptr &&
                X509_gmtime_adj(X509_getm_notAfter(made), 86400) != nullptr && X509_set_pubkey(made, key) == 1 &&
                X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                                           0) == 1 &&
                X509_set_issuer_name(made, name) == 1,
            "certificate fields");
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, made, made, nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {{NID_basic_constraints, "critical,CA:TRUE"},
                                                      {NID_subject_alt_name, "IP:127.0.0.1"},
                                                      {NID_subject_key_identifier, "hash"}};
    for (const auto& [nid, value] : extensions) {
        Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value), &X509_EXTENSION_free);
        require(extension != nullptr && X509_add_ext(made, extension.get(), -1) == 1, "extension");
    }
    require(X509_sign(made, key, EVP_sha256()) > 0, "X509_sign");
    return certificate;
}

template <typename Write>
std::string pem(Write write) {
    Memory memory(BIO_new(BIO_s_mem()), &BIO_free);
    require(memory != nullptr && write(memory.get()) == 1, "PEM encoding");
    char* data = nullptr;
    long length = BIO_get_mem_data(memory.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// The CA file libcurl verifies servers against when a transfer names none.
std::string curlCAFile() {
    Easy handle(curl_easy_init(), &curl_easy_cleanup);
    char* path = nullptr;
    if (handle == nullptr || curl_easy_getinfo(handle.get(), CURLINFO_CAINFO, &path) != CURLE_OK || path == nullptr) {
        throw std::runtime_error("libcurl names no default CA file");
    }
    return path;
}

}  // namespace

TrustedCertificate::TrustedCertificate() {
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    require(key != nullptr, "key generation");
    Certificate certificate = selfSigned(key.get());
    certificatePEM_ = pem([&](BIO* out) { return PEM_write_bio_X509(out, certificate.get()); });
    privateKeyPEM_ = pem([&](BIO* out) { return PEM_write_bio_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    std::string bundle = folder_ / "bundle.pem";
    writeFile(bundle, certificatePEM_);
    trusted_ = std::make_unique<BindMount>(bundle, curlCAFile());
}

}  // namespace testsupport
