// The guide's direct calls: a check with progress and cancellation, its typed errors, and
// the hand-over to the privileged helper.

#include "AppStandIns.hpp"

#include <AutoUpdateKit/AutoUpdateKit.h>

#include <thread>

void checkDirectly(UpdateWindow& window, const autoupdatekit::AutoUpdateAppCallbacks& callbacks) {
    // [guide:privileged]
    auto configuration = autoupdatekit::AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    autoupdatekit::AutoUpdateManager manager(*configuration);
    auto result = manager.checkForUpdate();
    if (auto* ready = std::get_if<autoupdatekit::AutoUpdateCheckResult::UpdateReady>(&result.value))
        autoupdatekit::AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(ready->candidate, *configuration, callbacks);
    // [/guide]

    // [guide:progress]
    autoupdatekit::AutoUpdateCheckOptions options;
    options.progress = [&window](const autoupdatekit::AutoUpdateProgress& progress) {
        if (progress.totalBytes)
            window.showProgress(static_cast<double>(progress.receivedBytes) / static_cast<double>(*progress.totalBytes),
                                progress.bytesPerSecond);
    };
    auto cancel = options.cancellation;  // copies share one switch
    std::thread worker([&] {
        try {
            manager.checkForUpdate(options);
        } catch (const autoupdatekit::AutoUpdateError& error) {
            using Case = autoupdatekit::AutoUpdateError::Case;
            if (error.errorCase() == Case::serverUnreachable) window.showError("You seem to be offline.");
            else if (error.errorCase() != Case::cancelled) window.showError(error.description());
        }
    });
    cancel.cancel();  // from any thread
    // [/guide]
    worker.join();
}
