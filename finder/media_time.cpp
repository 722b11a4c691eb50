#include "finder/media_time.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace veld {
namespace {

bool InRange(int year, int month, int day, int hour, int minute, int second) {
    return year >= 1980 && year <= 2107 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

std::string Text(int year, int month, int day, int hour, int minute, int second) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

}  // namespace

std::string LocalTimeText(int64_t unixSeconds) {
    if (unixSeconds <= 0) return "";
    const std::time_t t = std::time_t(unixSeconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return "";
    const int year = local.tm_year + 1900;
    if (!InRange(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec)) return "";
    return Text(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::string NormalisedTimeText(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char s1 = 0, s2 = 0;
    if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d %2d:%2d:%2d", &year, &s1, &month, &s2, &day, &hour, &minute,
                    &second) == 8 &&
        s1 == s2 && (s1 == ':' || s1 == '/' || s1 == '-')) {
        return InRange(year, month, day, hour, minute, second) ? Text(year, month, day, hour, minute, second) : "";
    }
    static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    char weekday[8] = {}, monthName[8] = {};
    if (std::sscanf(text.c_str(), "%3s %3s %d %d:%d:%d %d", weekday, monthName, &day, &hour, &minute, &second,
                    &year) == 7) {
        for (char& c : monthName)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        for (int m = 0; m < 12; ++m)
            if (std::strcmp(monthName, kMonths[m]) == 0 && InRange(year, m + 1, day, hour, minute, second))
                return Text(year, m + 1, day, hour, minute, second);
    }
    return "";
}

}  // namespace veld
