#pragma once
// A typical manifest payload for tests and benchmarks.

#include "AutoUpdateKit/UpdateManifest.hpp"

namespace testsupport {

autoupdatekit::UpdateManifestPayload samplePayload();

}  // namespace testsupport
