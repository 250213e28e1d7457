#ifndef ISTD_TIME_H
#define ISTD_TIME_H

// A point in time or a span: seconds and nanoseconds (0..999999999), plus how it is printed.
//
// Presentation code (how operator<< writes it):
//   0                  a span: "12.500000000 s"
//   1, 2               date and time: "2010-04-30 12:00:00"
//   3 .. 9             date and time with that many fraction digits (3 ms, 6 us, 9 ns)
// The flag selects UTC; without it the date and time are local.
//
// Construction:
//   Time()                     zero, code 0
//   Time(int code)             zero with a presentation code: Time(3), Time(6)
//   Time(unsigned seconds)     seconds since 1970 (also unsigned long / long long), code 2, UTC
//   Time(sec, nsec)            a span or instant, normalised, code 0: Time(1, 0), Time(0, 0)
//   Time::Now(code)            the current time, local presentation
//   CreateTime("2010-04-30 12:00:00")  that UTC date and time, code 2, UTC

#include <cstdint>
#include <iosfwd>
#include <string>

#include "istd/istd_export.h"

namespace istd {

class ISTD_API Time {
public:
    Time() = default;
    explicit Time(int code);
    explicit Time(unsigned int seconds);
    explicit Time(unsigned long seconds);
    explicit Time(unsigned long long seconds);
    Time(int64_t sec, long nsec);

    static Time Now(int code);

    int64_t Sec() const noexcept { return m_sec; }
    long NSec() const noexcept { return m_nsec; }
    int Presentation() const noexcept { return m_code; }
    bool IsUtc() const noexcept { return m_utc; }

    void SetPresentation(int code, bool utc);

    // The span between two instants (presentation code 0).
    friend ISTD_API Time operator-(const Time& a, const Time& b);

    // Compare the instants only, not the presentation.
    friend bool operator==(const Time& a, const Time& b) noexcept
    {
        return a.m_sec == b.m_sec && a.m_nsec == b.m_nsec;
    }
    friend bool operator!=(const Time& a, const Time& b) noexcept { return !(a == b); }
    friend bool operator<(const Time& a, const Time& b) noexcept
    {
        return a.m_sec < b.m_sec || (a.m_sec == b.m_sec && a.m_nsec < b.m_nsec);
    }
    friend bool operator>(const Time& a, const Time& b) noexcept { return b < a; }
    friend bool operator<=(const Time& a, const Time& b) noexcept { return !(b < a); }
    friend bool operator>=(const Time& a, const Time& b) noexcept { return !(a < b); }

private:
    void _Normalise(int64_t sec, int64_t nsec);

    int64_t m_sec = 0;
    long m_nsec = 0;
    int m_code = 0;
    bool m_utc = false;
};

// "YYYY-MM-DD hh:mm:ss" as UTC; any other text throws "Invalid time text: " + text.
ISTD_API Time CreateTime(const std::string& text);

ISTD_API std::ostream& operator<<(std::ostream& os, const Time& time);

} // namespace istd

#endif
