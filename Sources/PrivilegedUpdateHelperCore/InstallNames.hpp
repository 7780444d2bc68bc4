#pragma once
// The hidden names an install uses beside the destination, each made of the install
// name and a fresh UUID, and the test that tells a leftover of a killed install by its
// exact form.

#include <string>

namespace privilegedhelper {

// ".<name>.autoupdate.<UUID>.copying": the root-only folder the copy is made, checked
// and swapped in from.
std::string holdingFolderName(const std::string& installName, const std::string& uuid);
// ".<name>.autoupdate.backup.<UUID>.app": the installed app until the new one verifies.
std::string backupName(const std::string& installName, const std::string& uuid);

enum class InstallLeftover { none, copy, backup };

// Which of the names above name is, for this install name; a UUID must be in its
// standard upper-case form. ".<name>.autoupdate.<UUID>.app", where earlier helpers
// checked their copies in the open, counts as a copy too.
InstallLeftover installLeftoverKind(const std::string& name, const std::string& installName);

}  // namespace privilegedhelper
