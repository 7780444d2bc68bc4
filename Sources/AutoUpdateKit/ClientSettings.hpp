#pragma once
// The client's settings for one app: each key read from the app's user defaults first
// and its Info.plist second, and the client's own records written to the defaults.
// The bundle must outlive it. Numbers may be stored as integers or as decimal text (the
// defaults tool writes text), flags as Booleans, integers or text ("true", "yes", "1"
// and their opposites).

#include "Platform/PropertyList.hpp"
#include "Platform/UserDefaults.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Bundle;
}

namespace autoupdatekit {

inline constexpr const char* checkIntervalKey = "AutoUpdateCheckInterval";
inline constexpr const char* automaticChecksKey = "AutoUpdateAutomaticChecks";
inline constexpr const char* automaticInstallsKey = "AutoUpdateAutomaticInstalls";
inline constexpr const char* lastCheckTimeKey = "AutoUpdateLastCheckTime";
inline constexpr const char* skippedVersionKey = "AutoUpdateSkippedVersion";
inline constexpr const char* phasedRolloutIntervalKey = "AutoUpdatePhasedRolloutInterval";
inline constexpr const char* rolloutGroupKey = "AutoUpdateRolloutGroup";
// "<update id>: <delta bytes> of <archive bytes> bytes", kept when a delta was used.
inline constexpr const char* stagedFromDeltaKey = "AutoUpdateStagedFromDelta";
// The highest manifest sequence number accepted, by channel.
inline constexpr const char* acceptedSequencesKey = "AutoUpdateAcceptedManifestSequences";

class ClientSettings {
public:
    explicit ClientSettings(const platform::Bundle& bundle);

    // A non-empty text; an empty defaults value falls through to the Info.plist.
    std::optional<std::string> text(const std::string& key) const;
    // A value that is no usable number or flag falls through the same way.
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<bool> flag(const std::string& key) const;
    // A non-empty array of non-empty texts.
    std::optional<std::vector<std::string>> texts(const std::string& key) const;

    // The app's own defaults only; nothing when the bundle has no usable domain or its
    // file does not parse.
    std::optional<platform::PropertyValue> record(const std::string& key) const;
    // Throws when the bundle has no defaults domain, or the platform's error.
    void setRecord(const std::string& key, const platform::PropertyValue& value);
    void removeRecord(const std::string& key);

private:
    // The first value of the key that the reader accepts, defaults before Info.plist.
    template <typename Reader>
    auto lookUp(const std::string& key, Reader read) const -> decltype(read(platform::PropertyValue()));

    std::optional<platform::UserDefaults> defaults_;
    const platform::PropertyDictionary& info_;
};

// A number from an integer value or decimal text ("-" and at most 18 digits).
std::optional<std::int64_t> integerValue(const platform::PropertyValue& value);

}  // namespace autoupdatekit
