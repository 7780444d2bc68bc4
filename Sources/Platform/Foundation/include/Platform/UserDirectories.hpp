#pragma once
// Per-user folders as the platform decides them.

#include <string>

namespace platform {

// $HOME, or the password database's entry for the real user.
std::string homeDirectory();
// $XDG_CACHE_HOME when absolute, else $HOME/.cache.
std::string cachesDirectory();
// $TMPDIR when set and not empty, else /tmp (no trailing slash).
std::string temporaryDirectory();

}  // namespace platform
