#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include "Platform/PropertyList.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace autoupdatekit;
using platform::PropertyDictionary;
using platform::PropertyValue;
using platform::ipc::KeyedArchiver;
using platform::ipc::KeyedUnarchiver;

namespace {

std::optional<PrivilegedUpdateRequest> decodeRequest(const PropertyValue& archive) {
    return PrivilegedUpdateRequest::decode(KeyedUnarchiver(archive, PrivilegedUpdateRequest::className));
}

// A request archived and carried through a binary property list, as on the wire, less
// the key.
PropertyDictionary archiveWithout(const std::string& key) {
    KeyedArchiver coder(PrivilegedUpdateRequest::className);
    PrivilegedUpdateRequest("/Applications/Sample.app", "/home/u/.cache/x/Extracted/Sample.app", "com.example.sample", "TEAMA1",
                            "2.0-7", -42, true)
        .encode(coder);
    const PropertyValue wire = platform::PropertyList::read(platform::PropertyList::binary(PropertyValue(coder.archive())));
    // Checked, since the optimiser cannot see that the wire archive is a dictionary.
    const auto* dictionary = wire.getIf<PropertyDictionary>();
    if (dictionary == nullptr) throw std::runtime_error("the wire archive is not a dictionary");
    auto archive = *dictionary;
    archive.erase(key);
    return archive;
}

}  // namespace

TEST(PrivilegedUpdateProtocol, RequestDecodeRules) {
    auto defaults = decodeRequest(PropertyValue(archiveWithout("launchAfterInstall")));
    ASSERT_TRUE(defaults);
    EXPECT_FALSE(defaults->launchAfterInstall());
    auto noProcess = archiveWithout("requestingProcessIdentifier");
    noProcess.erase("launchAfterInstall");
    EXPECT_EQ(decodeRequest(PropertyValue(noProcess))->requestingProcessIdentifier(), 0);

    for (const char* key : {"currentAppPath", "stagedAppPath", "expectedBundleIdentifier", "expectedTeamIdentifier", "updateIdentifier"}) {
        EXPECT_FALSE(decodeRequest(PropertyValue(archiveWithout(key)))) << key;
    }
    // A value of the wrong type, a pid past 32 bits or another class refuses the request.
    for (const auto& [key, value] : {std::pair<std::string, PropertyValue>{"stagedAppPath", std::int64_t{7}},
                                     {"requestingProcessIdentifier", std::int64_t{1} << 40},
                                     {"launchAfterInstall", "yes"},
                                     {"$class", "AUKPrivilegedUpdateReply"}}) {
        auto archive = archiveWithout(key);
        archive[key] = value;
        EXPECT_FALSE(decodeRequest(PropertyValue(archive))) << key;
    }
    EXPECT_FALSE(decodeRequest(PropertyValue("not a dictionary")));

    auto empty = archiveWithout("updateIdentifier");
    empty["updateIdentifier"] = "";
    EXPECT_EQ(decodeRequest(PropertyValue(empty))->updateIdentifier(), "");
}
