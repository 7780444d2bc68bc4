#include "ScheduledCheckRules.hpp"

#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "ClientSettings.hpp"

#include "Platform/Identifiers.hpp"

#include <random>

namespace autoupdatekit {
namespace {

// A longer interval counts as this long, so the offer date cannot overflow.
constexpr std::int64_t longestPhaseSeconds = 366LL * 24 * 3600;

std::string releaseName(const UpdateManifestPayload& payload) { return "update " + payload.version + " (" + payload.build + ")"; }

}  // namespace

int rolloutGroup(ClientSettings& settings) {
    if (auto stored = settings.record(rolloutGroupKey)) {
        auto group = integerValue(*stored);
        if (group && *group >= 0 && *group < rolloutGroupCount) return static_cast<int>(*group);
    }
    std::random_device entropy;
    int group = std::uniform_int_distribution<int>(0, rolloutGroupCount - 1)(entropy);
    try {
        settings.setRecord(rolloutGroupKey, platform::PropertyValue(group));
    } catch (const std::exception&) {
        // Nowhere to keep it: this check uses the drawn group.
    }
    return group;
}

std::optional<std::string> scheduledPassOver(const UpdateManifestPayload& payload, bool critical, ClientSettings& settings,
                                             std::chrono::system_clock::time_point now) {
    if (critical) return std::nullopt;
    auto skipped = settings.record(skippedVersionKey);
    const auto* skippedText = skipped ? skipped->getIf<std::string>() : nullptr;
    if (skippedText != nullptr && *skippedText == updateIdentifier(payload)) return releaseName(payload) + " skipped by the user";

    std::int64_t interval = settings.integer(phasedRolloutIntervalKey).value_or(0);
    if (interval <= 0) return std::nullopt;
    int group = rolloutGroup(settings);
    auto offeredFrom = payload.releaseDate + std::chrono::seconds(std::min(interval, longestPhaseSeconds) * group);
    if (now >= offeredFrom) return std::nullopt;
    return releaseName(payload) + " is offered to rollout group " + std::to_string(group) + " from " +
           platform::iso8601UTC(offeredFrom);
}

}  // namespace autoupdatekit
