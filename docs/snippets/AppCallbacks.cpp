// The guide's scheduler, consent, start-up check in the background, and install on quit.

#include "AppStandIns.hpp"

#include <AutoUpdateKit/AutoUpdateKit.h>

#include <iostream>

void schedule(MainLoop& mainLoop, Documents& documents) {
    // [guide:callbacks]
    autoupdatekit::AutoUpdateAppCallbacks callbacks;
    callbacks.executor = [&mainLoop](std::function<void()> work) { mainLoop.post(std::move(work)); };
    callbacks.log = [](const std::string& line) { std::cerr << line << "\n"; };
    callbacks.quit = [&] {
        documents.saveAll();  // the install starts once the process has ended
        mainLoop.quit();
    };
    // [/guide]
    // [guide:consent]
    callbacks.consent = [](const autoupdatekit::AutoUpdateCandidate& candidate) {
        const auto& release = candidate.manifest.payload;
        std::cerr << "Version " << release.version << " (" << release.build << ") is ready.\n";
        // show release.releaseNotes, release.releaseDate and release.archiveSize too
        return autoupdatekit::AutoUpdateDecision::later;  // or installNow, installOnQuit, skipThisVersion
    };
    // [/guide]
    // [guide:scheduler]
    auto configuration = autoupdatekit::AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    autoupdatekit::AutoUpdateScheduler scheduler(*configuration, callbacks);
    scheduler.start();  // stop() (or the destructor) cancels a check in flight
    // [/guide]
    // [guide:background]
    callbacks.finished = [](const autoupdatekit::AutoUpdateOutcome& outcome) {
        if (outcome.error) std::cerr << outcome.error->logDescription() << "\n";
    };
    auto startUpCheck = autoupdatekit::AutoUpdateManager::checkInstallAndRelaunchInBackground(callbacks);
    // keep startUpCheck while the app runs: destroying it cancels the check
    // [/guide]
}
