#pragma once
// Everything an app maker calls, in one include.

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/InstallationPlan.hpp"
#include "AutoUpdateKit/Installers.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"
#include "AutoUpdateKit/PrivilegedUpdateClient.hpp"
#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"
