#pragma once
// Trusted team keys: <trust store>/<TEAM>.pub lists the base64 Ed25519 public keys
// trusted for that team, one a line. The folder is fixed at build time.

#include "Platform/Crypto.hpp"

#include <string>

namespace platform::codesigning {

// Upper-case ASCII letters and digits only, so a team name never reaches outside the
// trust store.
bool isValidTeamIdentifier(const std::string& team);

// Whether the key is listed for the team. A missing or unreadable file trusts nothing.
bool isTrustedKey(const std::string& team, const Bytes& publicKey);

}  // namespace platform::codesigning
