#include "Platform/Identifiers.hpp"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <uuid/uuid.h>

namespace platform {

std::string makeUUIDString() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

std::string iso8601UTC(std::chrono::sys_seconds time) {
    auto seconds = static_cast<std::time_t>(time.time_since_epoch().count());
    std::tm parts {};
    ::gmtime_r(&seconds, &parts);
    // Formatted by hand: strftime's %Y does not pad years below 1000 to four digits.
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(parts.tm_year) + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    auto yearOfEra = static_cast<unsigned>(year - era * 400);
    unsigned shiftedMonth = month > 2 ? month - 3 : month + 9;
    unsigned dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

unsigned daysInMonth(std::int64_t year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Reads exactly count digits at position; nothing if any is not a digit.
std::optional<unsigned> digits(const std::string& text, std::size_t position, std::size_t count) {
    if (position + count > text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t index = position; index < position + count; ++index) {
        if (text[index] < '0' || text[index] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[index] - '0');
    }
    return value;
}

std::optional<int> offsetSeconds(const std::string& zone) {
    if (zone == "Z") return 0;
    if (zone.size() != 6 && zone.size() != 5) return std::nullopt;
    if (zone[0] != '+' && zone[0] != '-') return std::nullopt;
    bool colon = zone.size() == 6;
    if (colon && zone[3] != ':') return std::nullopt;
    auto hours = digits(zone, 1, 2);
    auto minutes = digits(zone, colon ? 4 : 3, 2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
    int seconds = static_cast<int>(*hours * 3600 + *minutes * 60);
    return zone[0] == '-' ? -seconds : seconds;
}

}  // namespace

std::optional<std::chrono::sys_seconds> parseISO8601(const std::string& text) {
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    auto year = digits(text, 0, 4);
    auto month = digits(text, 5, 2);
    auto day = digits(text, 8, 2);
    auto hour = digits(text, 11, 2);
    auto minute = digits(text, 14, 2);
    auto second = digits(text, 17, 2);
    auto offset = offsetSeconds(text.substr(19));
    if (!year || !month || !day || !hour || !minute || !second || !offset) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    std::int64_t seconds = daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second - *offset;
    return std::chrono::sys_seconds(std::chrono::seconds(seconds));
}

}  // namespace platform
