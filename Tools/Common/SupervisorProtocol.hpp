#pragma once
// The control service of the job supervisor, shared by the supervisor and launchctl.

namespace supervisorprotocol {

inline constexpr const char* serviceName = "autoupdatekit.launchd";
inline constexpr const char* printSelector = "print";
inline constexpr const char* bootstrapSelector = "bootstrap";
inline constexpr const char* bootoutSelector = "bootout";

}  // namespace supervisorprotocol
