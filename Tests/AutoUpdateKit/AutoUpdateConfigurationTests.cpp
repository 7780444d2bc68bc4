#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"

#include "Platform/UserDefaults.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace autoupdatekit;
using platform::PropertyValue;

namespace {

// A real bundle and a real defaults domain under a private HOME and caches folder.
class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("HOME", (folder_ / "home").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (folder_ / "cache").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("HOME", savedHome_.c_str(), 1);
        ::unsetenv("XDG_CACHE_HOME");
    }

    std::optional<AutoUpdateConfiguration> configurationFor(platform::PropertyDictionary info) {
        testsupport::SampleBundle sample;
        sample.extraInfo = std::move(info);
        std::string app = testsupport::buildBundle(folder_.path(), "Sample", sample);
        return AutoUpdateConfiguration::fromAppOrUserDefaults(app);
    }

    void setDefault(const std::string& key, const std::string& value) {
        platform::UserDefaults("com.example.sample").set(key, PropertyValue(value));
    }

    testsupport::TemporaryDirectory folder_;
    std::string savedHome_;
    const std::string key_ = "MCowBQYDK2VwAyEAGb9ECWmEzf6FQbrBZ9w7lshQhqowtrbLDFw4rXAxZuE=";
};

}  // namespace

TEST_F(Configuration, UserDefaultsComeBeforeTheInfoPlistAndEmptyOnesFallThrough) {
    setDefault("AutoUpdateManifestURL", "https://defaults.example.com/m.json");
    setDefault("AutoUpdateManifestPublicKey", "");
    auto configuration = configurationFor({{"AutoUpdateManifestURL", "https://info.example.com/m.json"},
                                           {"AutoUpdateManifestPublicKey", key_}});
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->manifestURL.absoluteString(), "https://defaults.example.com/m.json");
    EXPECT_EQ(configuration->publicKeyBase64, key_);
    EXPECT_EQ(configuration->privilegedHelperMachServiceName, "com.example.sample.PrivilegedUpdater");
    EXPECT_EQ(configuration->stagingDirectory, folder_ / "cache/com.example.sample/AutoUpdateStaging");
    EXPECT_TRUE(testsupport::exists(folder_ / "cache"));
    EXPECT_FALSE(testsupport::exists(folder_ / "cache/com.example.sample"));

    setDefault("AutoUpdateMachServiceName", "com.example.sample.Helper");
    EXPECT_EQ(configurationFor({{"AutoUpdateManifestURL", "https://x.example/m"}, {"AutoUpdateManifestPublicKey", key_}})
                  ->privilegedHelperMachServiceName,
              "com.example.sample.Helper");
}

TEST_F(Configuration, BlankOrMissingValuesMeanNotConfiguredAndAnUnparsableURLIsAnError) {
    const platform::PropertyDictionary good{{"AutoUpdateManifestURL", "https://info.example.com/m.json"},
                                            {"AutoUpdateManifestPublicKey", key_}};
    EXPECT_TRUE(configurationFor(good));

    auto numberURL = good;
    numberURL["AutoUpdateManifestURL"] = std::int64_t{3};
    EXPECT_FALSE(configurationFor(numberURL));
    auto blankKey = good;
    blankKey["AutoUpdateManifestPublicKey"] = " \n\t";
    EXPECT_FALSE(configurationFor(blankKey));
    // A trailing newline passes the blank test and goes to URL parsing as it is, which
    // refuses it: a configured URL that does not parse is the app maker's error to see.
    auto newlineURL = good;
    newlineURL["AutoUpdateManifestURL"] = "https://info.example.com/m.json\n";
    try {
        configurationFor(newlineURL);
        ADD_FAILURE() << "an unparsable URL configured nothing without an error";
    } catch (const AutoUpdateError& error) {
        EXPECT_EQ(error.errorCase(), AutoUpdateError::Case::invalidManifestURL);
        EXPECT_EQ(error.description(), "The configured manifest URL is not a valid URL: \"https://info.example.com/m.json\n\"");
    }

    // A blank user default wins over the Info.plist, then fails the blank test.
    setDefault("AutoUpdateManifestURL", "   ");
    EXPECT_FALSE(configurationFor(good));
}

// A rotation's key list configures the app alone; the threshold counts distinct keys,
// so a key listed twice cannot meet a threshold of 2, and that is refused when read.
TEST_F(Configuration, ReadsKeysThresholdFreshnessAndChannelAndRefusesAThresholdTheKeysCannotMeet) {
    platform::PropertyDictionary info{{"AutoUpdateManifestURL", "https://info.example.com/m.json"},
                                      {"AutoUpdateManifestPublicKeys", platform::PropertyArray{key_, "bmV3S2V5"}},
                                      {"AutoUpdateManifestKeyThreshold", std::int64_t{2}},
                                      {"AutoUpdateRequireFreshManifest", true},
                                      {"AutoUpdateChannel", "beta"}};
    auto configuration = configurationFor(info);
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->publicKeysBase64, (std::vector<std::string>{key_, "bmV3S2V5"}));
    EXPECT_EQ(std::tie(configuration->keyThreshold, configuration->requireFreshManifest, configuration->channel),
              std::make_tuple(2, true, "beta"));

    info["AutoUpdateManifestPublicKey"] = key_;
    info["AutoUpdateManifestPublicKeys"] = platform::PropertyArray{key_, key_ + "\n"};
    EXPECT_THROW(configurationFor(info), AutoUpdateError);
    info["AutoUpdateManifestKeyThreshold"] = std::int64_t{0};
    EXPECT_THROW(configurationFor(info), AutoUpdateError);
}
