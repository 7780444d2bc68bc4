#include "FileHash.hpp"

#include "Platform/Crypto.hpp"

namespace autoupdatekit::FileHash {

std::string hexDigest(const platform::FileURL& file) {
    auto digest = platform::sha256OfFile(file.path());
    return platform::hexLowercase(digest.data(), digest.size());
}

}  // namespace autoupdatekit::FileHash
