#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

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
        auto bundle = std::make_shared<const platform::Bundle>(*platform::Bundle::open(platform::FileURL(app)));
        return AutoUpdateConfiguration::fromBundleOrUserDefaults(bundle);
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
    EXPECT_EQ(configuration->privilegedHelperMachServiceName, PrivilegedUpdateDefaults::zorvaneMachServiceName);
    EXPECT_EQ(configuration->stagingDirectory.path(), folder_ / "cache/com.example.sample/AutoUpdateStaging");
    EXPECT_TRUE(testsupport::exists(folder_ / "cache"));
    EXPECT_FALSE(testsupport::exists(folder_ / "cache/com.example.sample"));

    setDefault("AutoUpdateMachServiceName", "com.example.sample.Helper");
    EXPECT_EQ(configurationFor({{"AutoUpdateManifestURL", "https://x.example/m"}, {"AutoUpdateManifestPublicKey", key_}})
                  ->privilegedHelperMachServiceName,
              "com.example.sample.Helper");
}

TEST_F(Configuration, BlankMissingOrUnparseableValuesMeanNotConfigured) {
    const platform::PropertyDictionary good{{"AutoUpdateManifestURL", "https://info.example.com/m.json"},
                                            {"AutoUpdateManifestPublicKey", key_}};
    EXPECT_TRUE(configurationFor(good));

    auto numberURL = good;
    numberURL["AutoUpdateManifestURL"] = std::int64_t{3};
    EXPECT_FALSE(configurationFor(numberURL));
    auto arrayKey = good;
    arrayKey["AutoUpdateManifestPublicKey"] = platform::PropertyArray{key_};
    EXPECT_FALSE(configurationFor(arrayKey));
    auto blankKey = good;
    blankKey["AutoUpdateManifestPublicKey"] = " \n\t";
    EXPECT_FALSE(configurationFor(blankKey));
    // A trailing newline passes the blank test and goes to URL parsing as it is.
    auto newlineURL = good;
    newlineURL["AutoUpdateManifestURL"] = "https://info.example.com/m.json\n";
    EXPECT_FALSE(configurationFor(newlineURL));
    // A key with surrounding blanks is kept as read.
    auto paddedKey = good;
    paddedKey["AutoUpdateManifestPublicKey"] = " " + key_ + "\n";
    EXPECT_EQ(configurationFor(paddedKey)->publicKeyBase64, " " + key_ + "\n");

    // A blank user default wins over the Info.plist, then fails the blank test.
    setDefault("AutoUpdateManifestURL", "   ");
    EXPECT_FALSE(configurationFor(good));
}

TEST_F(Configuration, ExplicitStagingIsKeptAndABundleWithoutIdentifierGetsTheKitsName) {
    std::string app = testsupport::buildBundle(folder_.path(), "NoIdentifier");
    testsupport::writeFile(app + "/Contents/Info.plist", platform::PropertyList::xml(platform::PropertyDictionary{}));
    auto bundle = std::make_shared<const platform::Bundle>(*platform::Bundle::open(platform::FileURL(app)));
    auto url = *platform::WebURL::parse("https://x.example/m.json");
    AutoUpdateConfiguration byDefault(url, key_, bundle, std::nullopt, "svc");
    EXPECT_EQ(byDefault.stagingDirectory.path(), folder_ / "cache/AutoUpdateKit/AutoUpdateStaging");
    AutoUpdateConfiguration explicitStaging(url, key_, bundle, platform::FileURL("/does/not/exist"), "svc");
    EXPECT_EQ(explicitStaging.stagingDirectory.path(), "/does/not/exist");
    EXPECT_FALSE(testsupport::exists("/does/not/exist"));

    // A caches folder that cannot be made is the platform's error.
    testsupport::writeFile(folder_ / "file", "x");
    ::setenv("XDG_CACHE_HOME", (folder_ / "file/cache").c_str(), 1);
    EXPECT_THROW(AutoUpdateConfiguration(url, key_, bundle, std::nullopt, "svc"), std::exception);
}
