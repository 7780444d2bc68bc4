#pragma once
// Runs a piece of a test as an ordinary user (uid and gid 65534) in a forked child, for
// the rules that root would pass anyway. The body's text comes back to the parent.

#include <functional>
#include <string>

namespace testsupport {

inline constexpr unsigned nobodyIdentifier = 65534;

std::string runAsNobody(const std::function<std::string()>& body);

// Switches the calling (forked) process to uid and gid 65534; false when it cannot.
bool becomeNobody();

}  // namespace testsupport
