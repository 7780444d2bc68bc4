// Feeds arbitrary bytes to the manifest decoder: it must decode or throw its own
// error, and whatever decodes must re-encode and decode to the same records, the
// extension among them.

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoder = autoupdatekit::ManifestCoding::makeDecoder();
    try {
        auto manifest = decoder.decodeManifest(text);
        auto again = decoder.decodeManifest(autoupdatekit::ManifestCoding::manifestData(manifest));
        if (!(again == manifest)) std::abort();
        if (auto extension = autoupdatekit::ManifestExtensionCoding::decodeExtension(text)) {
            auto document = autoupdatekit::ManifestExtensionCoding::manifestData(manifest, *extension);
            if (!(autoupdatekit::ManifestExtensionCoding::decodeExtension(document) == extension)) std::abort();
        }
    } catch (const autoupdatekit::DecodingError&) {
    } catch (const autoupdatekit::EncodingError&) {
    }
    return 0;
}
