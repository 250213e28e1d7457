#include "fake_clock.h"

#include <atomic>
#include <cstdint>

#include "bmc/clock.h"

namespace bmctest {

namespace {

constexpr int64_t c_nsecPerSec = 1000000000;
constexpr int64_t c_start = 1272628800; // 2010-04-30 12:00:00 UTC

std::atomic<int64_t> g_nsec{c_start * c_nsecPerSec};

istd::Time _Source(int code)
{
    const int64_t nsec = g_nsec.load();
    istd::Time now(nsec / c_nsecPerSec, static_cast<long>(nsec % c_nsecPerSec));
    now.SetPresentation(code, false);
    return now;
}

} // namespace

FakeClock::FakeClock()
{
    g_nsec.store(c_start * c_nsecPerSec);
    bmc::Clock::SetSource(&_Source);
}

FakeClock::~FakeClock()
{
    bmc::Clock::SetSource(nullptr);
}

istd::Time FakeClock::Now()
{
    return _Source(3);
}

void FakeClock::Set(const istd::Time& time)
{
    g_nsec.store(time.Sec() * c_nsecPerSec + time.NSec());
}

void FakeClock::Advance(int64_t sec, long nsec)
{
    g_nsec.fetch_add(sec * c_nsecPerSec + nsec);
}

} // namespace bmctest
