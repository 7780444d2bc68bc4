#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include "ManifestSamples.hpp"

#include <gtest/gtest.h>

using namespace autoupdatekit;
using platform::FileURL;

TEST(AutoUpdateResults, ErrorMessages) {
    auto url = *platform::WebURL::parse("https://updates.example.com/m.json?x=1");
    const std::pair<AutoUpdateError, std::string> cases[] = {
        {AutoUpdateError::manifestRequestFailed(404, url), "The update manifest could not be loaded. HTTP 404: https://updates.example.com/m.json?x=1"},
        {AutoUpdateError::archiveDownloadFailed(500, url), "The update archive could not be downloaded. HTTP 500: https://updates.example.com/m.json?x=1"},
        {AutoUpdateError::archiveHashMismatch("AB", "ab1"), "The update archive hash does not match. Expected AB, got ab1."},
        {AutoUpdateError::extractionFailed(" bad zip\nentry x\n"), "The update archive could not be extracted: bad zip\nentry x"},
        {AutoUpdateError::bundleIdentifierMismatch("com.a", std::nullopt), "The update app bundle identifier does not match. Expected com.a, got nil."},
        {AutoUpdateError::bundleIdentifierMismatch("com.a", "com.b"), "The update app bundle identifier does not match. Expected com.a, got com.b."},
        {AutoUpdateError::unsupportedAutomaticInstallStrategy(InstallStrategy::replaceBundleContents),
         "Install strategy replaceBundleContents is not supported for automatic install yet."},
        {AutoUpdateError::unsupportedSystemVersion("13.1", "12.6.1"), "The update requires macOS 13.1, but this Mac is running macOS 12.6.1."},
        {AutoUpdateError::invalidManifestSignature(), "The update manifest signature is not valid."},
        {AutoUpdateError::extractedAppMissing(), "The update archive did not contain an app bundle."},
        {AutoUpdateError::privilegedHelperRequiresTeamIdentifier(),
         "The current app must be signed with a Developer ID team identifier before a privileged install can be scheduled."},
    };
    for (const auto& [error, message] : cases) {
        EXPECT_EQ(error.description(), message);
        EXPECT_STREQ(error.what(), message.c_str());
    }
}

TEST(AutoUpdateResults, PlanErrorMessagesAndStrategyRawValues) {
    const std::pair<InstallationPlanError, std::string> cases[] = {
        {InstallationPlanError::appMissing(FileURL("/Applications/A.app/")), "App bundle does not exist at /Applications/A.app."},
        {InstallationPlanError::bundleIdentifierMissing(FileURL("/x/A.app")), "Could not read bundle identifier from /x/A.app."},
        {InstallationPlanError::bundleIdentifierMismatch("com.a", std::nullopt), "Bundle identifier mismatch. Expected com.a, got nil."},
        {InstallationPlanError::teamIdentifierMismatch("TEAM", std::nullopt), "Team identifier mismatch. Expected TEAM, got nil."},
        {InstallationPlanError::teamIdentifierMismatch(std::nullopt, "TEAM"), "Team identifier mismatch. Expected nil, got TEAM."},
        {InstallationPlanError::stagedSignatureInvalid("\n/x: file modified\nmore\n"), "Staged app signature check failed: /x: file modified\nmore"},
    };
    for (const auto& [error, message] : cases) EXPECT_EQ(error.description(), message);

    for (auto strategy : {InstallStrategy::replaceWithoutBackup, InstallStrategy::replaceWholeBundle,
                          InstallStrategy::replaceBundleContents, InstallStrategy::relocateToUserApplications}) {
        EXPECT_EQ(installStrategyFromRawValue(rawValue(strategy)), strategy);
    }
    EXPECT_EQ(rawValue(InstallStrategy::relocateToUserApplications), "relocateToUserApplications");
    EXPECT_EQ(installStrategyFromRawValue("ReplaceWholeBundle"), std::nullopt);
    EXPECT_EQ(installStrategyFromRawValue(""), std::nullopt);
}

TEST(AutoUpdateResults, LogDescriptionsAndEquality) {
    EXPECT_EQ(AutoUpdateCheckResult::upToDate("3.0", "100", "3.0", "100").logDescription(), "up to date at 3.0 (100); server has 3.0 (100)");
    EXPECT_EQ(AutoUpdateCheckResult::notConfigured().logDescription(), "not configured");

    AutoUpdateCandidate candidate{{testsupport::samplePayload(), "sig"}, FileURL("/c/AutoUpdateStaging/Sample-2.4.0.zip"),
                                  FileURL("/c/AutoUpdateStaging/Extracted/Sample.app")};
    auto ready = AutoUpdateCheckResult::updateReady(candidate);
    EXPECT_EQ(ready.logDescription(), "update 2.4.0 (241) staged at /c/AutoUpdateStaging/Extracted/Sample.app");
    EXPECT_EQ(updateIdentifier(candidate.manifest.payload), "2.4.0-241");

    auto other = candidate;
    other.extractedAppURL = FileURL("/c/AutoUpdateStaging/Extracted/Other.app");
    EXPECT_EQ(ready, AutoUpdateCheckResult::updateReady(candidate));
    EXPECT_NE(ready, AutoUpdateCheckResult::updateReady(other));
    other = candidate;
    other.manifest.signature = "other";
    EXPECT_NE(ready, AutoUpdateCheckResult::updateReady(other));
    EXPECT_NE(AutoUpdateCheckResult::upToDate("1", "2", "3", "4"), AutoUpdateCheckResult::upToDate("1", "2", "4", "3"));
}
