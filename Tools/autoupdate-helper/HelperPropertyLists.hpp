#pragma once
// The two property lists an app maker writes for a helper, checked before they are
// embedded: a helper made from lists that the helper or the blessing would refuse
// would fail only on the users' machines.

#include "Platform/PropertyList.hpp"

#include <string>

namespace helpertool {

// The helper's Info.plist: a dictionary with every policy key as a non-blank string,
// a valid team identifier, an absolute destination and a plain service name. Returns
// the service name; throws std::runtime_error naming the file and the first problem.
std::string checkInfoPlist(const platform::PropertyValue& info, const std::string& origin);

// The launchd property list of the helper serving serviceName: Label equal to it, its
// MachServices entry true, and ProgramArguments naming
// /Library/PrivilegedHelperTools/<label>, where blessing puts the helper.
void checkLaunchdPlist(const platform::PropertyValue& launchd, const std::string& serviceName, const std::string& origin);

}  // namespace helpertool
