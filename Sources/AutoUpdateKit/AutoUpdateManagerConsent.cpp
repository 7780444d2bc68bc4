// The app's consent to a ready update, and what each answer does.

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "ClientSettings.hpp"

namespace autoupdatekit {

std::string rawValue(AutoUpdateDecision decision) {
    switch (decision) {
        case AutoUpdateDecision::installNow: return "installNow";
        case AutoUpdateDecision::later: return "later";
        case AutoUpdateDecision::skipThisVersion: return "skipThisVersion";
    }
    return "later";
}

AutoUpdateDecision AutoUpdateManager::decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                                   const AutoUpdateConsent& consent, const Log& log) {
    const auto& payload = candidate.manifest.payload;
    AutoUpdateDecision decision = AutoUpdateDecision::installNow;
    if (consent) {
        decision = consent(candidate);
        log("AutoUpdateKit: update " + payload.version + " (" + payload.build + "): the app decided " + rawValue(decision));
    }
    if (decision == AutoUpdateDecision::skipThisVersion) {
        ClientSettings(*configuration.currentBundle).setRecord(skippedVersionKey, platform::PropertyValue(updateIdentifier(payload)));
    }
    if (decision == AutoUpdateDecision::installNow) installAndRelaunch(candidate, configuration, {}, log);
    return decision;
}

}  // namespace autoupdatekit
