#pragma once
// The staging directory belongs to the update client alone: it holds one download (an
// archive or a delta), the folder it is unpacked or rebuilt into and, while a download
// runs, a partial file. Whatever the
// client removes there is only what it put there itself, so a staging path pointed at
// a folder of the user's own deletes nothing.

#include "AutoUpdateKit/AppVersion.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace autoupdatekit {

class StagingDirectory {
public:
    static constexpr const char* extractedFolderName = "Extracted";
    static constexpr const char* partialDownloadPrefix = ".autoupdate-download-";
    // A downloaded delta takes the archive's place.
    static constexpr const char* deltaFileName = "update.delta";

    explicit StagingDirectory(std::string path) : path_(std::move(path)) {}

    // A name that stays one entry inside a folder: not empty, ".", ".." or with a "/".
    static bool isPlainName(const std::string& name);

    const std::string& path() const noexcept { return path_; }
    std::string extractedFolder() const { return path_ + "/" + extractedFolderName; }

    // Removes everything (a link in its place is removed, not followed) and makes the
    // folder again, empty.
    void reset() const;
    // The download of that name kept from an earlier check when it is a regular file of
    // exactly the signed size; everything else there is removed. Nothing otherwise, and
    // the folder as it was: every download starts by resetting it.
    std::optional<std::string> keptDownload(const std::string& fileName, std::int64_t signedSize) const;
    // Removes everything unless the folder holds an unpacked app newer than the running
    // one: once an update is installed, or the server offers nothing newer, what was
    // staged for it is no longer needed.
    void emptyUnlessNewerThan(const AppVersion& running) const;

private:
    // Throws unless every entry is one the client puts there.
    void checkOnlyOursIsThere() const;

    std::string path_;
};

}  // namespace autoupdatekit
