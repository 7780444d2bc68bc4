#include "ManifestSamples.hpp"

#include "Platform/Identifiers.hpp"

namespace testsupport {

autoupdatekit::UpdateManifestPayload samplePayload() {
    return {
        1,
        "Sample",
        "com.example.sample",
        "2.4.0",
        "241",
        "12.0",
        *autoupdatekit::URL::parse("https://updates.example.com/sample/Sample-2.4.0.zip"),
        "Sample-2.4.0.zip",
        "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
        18432512,
        *platform::parseISO8601("2025-03-14T09:30:00Z"),
        std::nullopt,
    };
}

}  // namespace testsupport
