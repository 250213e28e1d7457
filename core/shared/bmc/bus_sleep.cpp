#include "bmc/bus_sleep.h"

#include <cerrno>
#include <ctime>

#include <atomic>

namespace bmc {

namespace {

void _NanoSleep(uint32_t microseconds)
{
    timespec remaining{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
    // A signal cuts nanosleep short; the rest of the wait is slept.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::atomic<BusSleepFnc> g_sleep{&_NanoSleep};

} // namespace

void BusSleep(uint32_t microseconds)
{
    g_sleep.load(std::memory_order_relaxed)(microseconds);
}

BusSleepFnc SetBusSleep(BusSleepFnc fnc)
{
    return g_sleep.exchange(fnc != nullptr ? fnc : &_NanoSleep);
}

void InstantBusSleep(uint32_t)
{
}

ScopedBusSleep::ScopedBusSleep(BusSleepFnc fnc) : m_previous(SetBusSleep(fnc))
{
}

ScopedBusSleep::~ScopedBusSleep()
{
    SetBusSleep(m_previous);
}

} // namespace bmc
