#pragma once
// Verification reads a seal of thousands of entries on every run. A seal laid out
// exactly as signing writes it is read here in one pass, without building a
// property-list tree; anything else (another layout, escaped or non-ASCII text) is left
// to the general property-list reader, which then gives the same seal or the error.

#include "Platform/CodeSeal.hpp"

#include <optional>
#include <string_view>

namespace platform::codesigning {

// The seal, or nullopt when the bytes are not in the written layout or hold a value
// the general reader would refuse.
std::optional<CodeSeal> readWrittenSealLayout(std::string_view bytes);

}  // namespace platform::codesigning
