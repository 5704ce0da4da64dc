#include "os/services/TimeStrings.h"

#include <cstring>
#include <ctime>

std::string utcNowString() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

namespace {

bool number(char const* at, int digits, int& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        if (at[i] < '0' || at[i] > '9') {
            return false;
        }
        out = out * 10 + (at[i] - '0');
    }
    return true;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

int64_t parseTimeString(char const* text) {
    if (text == nullptr || std::strlen(text) != 19 || text[4] != '-' || text[7] != '-' ||
        text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return 0;
    }
    int year, month, day, hour, minute, second;
    if (!number(text, 4, year) || !number(text + 5, 2, month) || !number(text + 8, 2, day) ||
        !number(text + 11, 2, hour) || !number(text + 14, 2, minute) || !number(text + 17, 2, second)) {
        return 0;
    }
    static int const monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 ||
        day > monthDays[month - 1] + (month == 2 && leapYear(year) ? 1 : 0) || hour > 23 ||
        minute > 59 || second > 59) {
        return 0;
    }
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return static_cast<int64_t>(timegm(&utc));
}
