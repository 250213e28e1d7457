#include "istd/time.h"

#include <cstdio>
#include <ctime>
#include <ostream>

#include "istd/exception.h"

namespace istd {

namespace {

constexpr int64_t c_nsecPerSec = 1000000000;

} // namespace

Time::Time(int code) : m_code(code) {}

Time::Time(unsigned int seconds) : Time(static_cast<unsigned long long>(seconds)) {}

Time::Time(unsigned long seconds) : Time(static_cast<unsigned long long>(seconds)) {}

Time::Time(unsigned long long seconds) : m_sec(static_cast<int64_t>(seconds)), m_code(2), m_utc(true) {}

Time::Time(int64_t sec, long nsec)
{
    _Normalise(sec, nsec);
}

void Time::_Normalise(int64_t sec, int64_t nsec)
{
    sec += nsec / c_nsecPerSec;
    nsec %= c_nsecPerSec;
    if (nsec < 0) {
        nsec += c_nsecPerSec;
        --sec;
    }
    m_sec = sec;
    m_nsec = static_cast<long>(nsec);
}

Time Time::Now(int code)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Time t(static_cast<int64_t>(now.tv_sec), now.tv_nsec);
    t.m_code = code;
    return t;
}

void Time::SetPresentation(int code, bool utc)
{
    m_code = code;
    m_utc = utc;
}

Time operator-(const Time& a, const Time& b)
{
    Time t;
    t._Normalise(a.m_sec - b.m_sec, static_cast<int64_t>(a.m_nsec) - b.m_nsec);
    return t;
}

Time CreateTime(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' &&
                        text[13] == ':' && text[16] == ':' &&
                        std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &year, &month, &day,
                                    &hour, &minute, &second, &used) == 6 &&
                        used == 19;
    bool digits = shaped;
    for (size_t i = 0; digits && i < text.size(); ++i) {
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        digits = separator || (text[i] >= '0' && text[i] <= '9');
    }
    tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const time_t seconds = digits ? ::timegm(&fields) : -1;
    // timegm normalises out-of-range fields (Feb 30 -> Mar 2); refuse them instead.
    const bool valid = digits && fields.tm_year == year - 1900 && fields.tm_mon == month - 1 &&
                       fields.tm_mday == day && fields.tm_hour == hour && fields.tm_min == minute &&
                       fields.tm_sec == second;
    if (!valid) {
        throw Exception("Invalid time text: " + text, true);
    }
    Time t(static_cast<int64_t>(seconds), 0L);
    t.SetPresentation(2, true);
    return t;
}

std::ostream& operator<<(std::ostream& os, const Time& time)
{
    const int code = time.Presentation();
    char text[80];
    if (code >= 1 && code <= 9) {
        const time_t seconds = static_cast<time_t>(time.Sec());
        tm fields{};
        if (time.IsUtc()) {
            ::gmtime_r(&seconds, &fields);
        } else {
            ::localtime_r(&seconds, &fields);
        }
        size_t len = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
        if (code >= 3) {
            long fraction = time.NSec();
            for (int i = code; i < 9; ++i) {
                fraction /= 10;
            }
            std::snprintf(text + len, sizeof text - len, ".%0*ld", code, fraction);
        }
        return os << text;
    }
    // A span: a negative one with a fraction is written as -(|sec| - 1).(1e9 - nsec).
    int64_t sec = time.Sec();
    long nsec = time.NSec();
    const bool negative = sec < 0;
    if (negative && nsec != 0) {
        sec += 1;
        nsec = static_cast<long>(c_nsecPerSec - nsec);
    }
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(sec) : static_cast<uint64_t>(sec);
    std::snprintf(text, sizeof text, "%s%llu.%09ld s", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude), nsec);
    return os << text;
}

} // namespace istd
