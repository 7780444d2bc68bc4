#pragma once
// Everything an app maker calls, in one include.

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateAppCallbacks.hpp"
#include "AutoUpdateKit/AutoUpdateCheckOptions.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateConsent.hpp"
#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateProgress.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/AutoUpdateScheduler.hpp"
#include "AutoUpdateKit/AutoUpdateStatus.hpp"
#include "AutoUpdateKit/CheckCancellation.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "AutoUpdateKit/URL.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"
