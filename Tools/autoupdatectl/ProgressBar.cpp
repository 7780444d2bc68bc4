#include "ProgressBar.hpp"

#include <algorithm>
#include <cstdio>

namespace updatecommands {

autoupdatekit::AutoUpdateProgressObserver ProgressBar::observer() {
    if (!enabled_) return {};
    return [this](const autoupdatekit::AutoUpdateProgress& progress) { draw(progress); };
}

void ProgressBar::draw(const autoupdatekit::AutoUpdateProgress& progress) {
    double mebibytes = static_cast<double>(progress.receivedBytes) / (1024.0 * 1024.0);
    double rate = progress.bytesPerSecond / (1024.0 * 1024.0);
    const auto& expected = progress.totalBytes;
    // "\r" starts the line again and "\033[K" clears what a longer line left behind.
    if (expected && *expected > 0) {
        double total = static_cast<double>(*expected) / (1024.0 * 1024.0);
        double fraction = std::min(1.0, static_cast<double>(progress.receivedBytes) / static_cast<double>(*expected));
        int filled = static_cast<int>(fraction * 30);
        std::fprintf(stderr, "\r[%-30.*s] %3d%% %.1f / %.1f MiB  %.1f MiB/s  %s left\033[K", filled,
                     "##############################", static_cast<int>(fraction * 100), mebibytes, total, rate,
                     timeLeft(rate > 0 ? (total - mebibytes) / rate : -1).c_str());
    } else {
        std::fprintf(stderr, "\r%.1f MiB  %.1f MiB/s\033[K", mebibytes, rate);
    }
    drawn_ = true;
}

std::string ProgressBar::timeLeft(double seconds) {
    if (seconds < 0 || seconds > 99 * 3600) return "--:--";
    auto whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

void ProgressBar::finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
}

}  // namespace updatecommands
