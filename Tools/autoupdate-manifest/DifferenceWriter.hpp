#pragma once
// Writes the blocks of a difference patch (DifferencePatch.hpp): the new file as runs of
// approximate matches in the old file, their byte-wise differences, and the bytes no
// match covers. Matches are found with a suffix array of the old file.

#include <string>
#include <string_view>

namespace differencewriter {

// The uncompressed patch; memory is about 12 bytes per byte of the old file.
std::string write(std::string_view old, std::string_view updated);

}  // namespace differencewriter
