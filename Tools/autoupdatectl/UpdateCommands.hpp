#pragma once
// The commands of autoupdatectl.

#include <string>
#include <vector>

namespace updatecommands {

inline constexpr int upToDateStatus = 0;
inline constexpr int failureStatus = 1;
inline constexpr int updateReadyStatus = 3;

extern const char* const checkUsage;
int check(const std::vector<std::string>& arguments);

extern const char* const installUsage;
int install(const std::vector<std::string>& arguments);

extern const char* const statusUsage;
int status(const std::vector<std::string>& arguments);

}  // namespace updatecommands
