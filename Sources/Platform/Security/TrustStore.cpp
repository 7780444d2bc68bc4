#include "Platform/TrustStore.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/ToolPaths.hpp"

namespace platform::codesigning {

bool isValidTeamIdentifier(const std::string& team) {
    if (team.empty() || team.size() > 64) return false;
    for (char c : team) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

bool isTrustedKey(const std::string& team, const Bytes& publicKey) {
    if (!isValidTeamIdentifier(team)) return false;
    std::string listing;
    try {
        listing = readWholeFile(std::string(paths::trustStoreDirectory) + "/" + team + ".pub");
    } catch (const std::exception&) {
        return false;
    }
    std::string wanted = base64Encode(publicKey);
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line == wanted) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace platform::codesigning
