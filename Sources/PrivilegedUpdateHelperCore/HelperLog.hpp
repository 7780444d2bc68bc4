#pragma once
// The helper's root-owned log, bounded in total: refusals are logged at most a fixed
// number a minute per user, and the file is rotated at a fixed size with one earlier
// file kept, so no client can make root fill the disk with log lines.

#include "Platform/FileURL.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace privilegedhelper {

class HelperLog {
public:
    // The limits, in one place.
    // A line that would take the file past this size first moves it to "<path>.1".
    static constexpr std::uintmax_t maximumFileSize = 8 * 1024 * 1024;
    // Each user's refusals are logged at most this many times per window; a window
    // starts with the first refusal after the previous one ended.
    static constexpr int refusalsPerWindow = 20;
    static constexpr std::chrono::seconds refusalWindow{60};

    // Touches no file: the folder is opened for each line, so one removed and made
    // again is still written to. A missing folder is made (root-owned, 0755) when its
    // parent exists and root alone can change it; its own missing parents are not.
    explicit HelperLog(const platform::FileURL& url);

    // Appends "<UTC time> <message>" as one line with one write, the message escaped.
    // Never fails and never reports failure.
    void write(const std::string& message);

    // Writes a refusal unless its user has used up the window's refusals; the first
    // refusal logged after some were left out is preceded by one line counting them.
    // Root's refusals are always written: root can write the log itself anyway.
    void logRefusal(uid_t user, const std::string& message);
    // The same at a given time, so the windows can be checked without waiting them out.
    void logRefusal(uid_t user, const std::string& message, std::chrono::steady_clock::time_point now);

private:
    struct RefusalWindow {
        std::chrono::steady_clock::time_point start;
        int logged = 0;
        long leftOut = 0;
    };

    void append(const std::string& line);

    std::string folder_;
    std::string name_;
    std::string rotatedName_;
    // Held for each whole line, rotation included, so lines from several threads
    // neither interleave nor land in a file that is being moved away.
    std::mutex fileMutex_;
    std::mutex refusalMutex_;
    // One entry per user that was ever refused: the users of the machine.
    std::map<uid_t, RefusalWindow> refusals_;
};

}  // namespace privilegedhelper
