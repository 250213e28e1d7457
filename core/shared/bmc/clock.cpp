#include "bmc/clock.h"

#include <atomic>

namespace bmc {

namespace {
std::atomic<Clock::Source_t> g_source{nullptr};
} // namespace

istd::Time Clock::Now(int code)
{
    const Source_t source = g_source.load(std::memory_order_acquire);
    return source != nullptr ? source(code) : istd::Time::Now(code);
}

void Clock::SetSource(Source_t source)
{
    g_source.store(source, std::memory_order_release);
}

} // namespace bmc
