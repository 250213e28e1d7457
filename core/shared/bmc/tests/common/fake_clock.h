#ifndef BMC_TESTS_FAKE_CLOCK_H
#define BMC_TESTS_FAKE_CLOCK_H

// Puts a settable clock behind bmc::Clock while it lives, so that tests age readings without
// waiting. Only one may live at a time.

#include "istd/time.h"

namespace bmctest {

class FakeClock {
public:
    // Starts at a fixed instant well after 1970.
    FakeClock();
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    static istd::Time Now();
    static void Set(const istd::Time& time);
    static void Advance(int64_t sec, long nsec);
};

} // namespace bmctest

#endif
