#ifndef BMC_BUS_SLEEP_H
#define BMC_BUS_SLEEP_H

// Every wait of the bus layer and of the chip drivers on it (the 1 µs pause after a word, the
// 100 µs and 1 ms polling steps, a chip's settling times) sleeps through BusSleep, so that a test
// or a benchmark running against simulated cores can make the waits instant:
//
//     bmc::ScopedBusSleep instant(bmc::InstantBusSleep);   // until the end of the scope
//
// The function is process-wide; swap it while no transfer runs.

#include <cstdint>

#include "bmc/bmc_export.h"

namespace bmc {

using BusSleepFnc = void (*)(uint32_t microseconds);

// Sleeps for the given time through the installed function (nanosleep unless replaced).
BMC_API void BusSleep(uint32_t microseconds);

// Installs fnc (null puts nanosleep back) and returns the function installed before.
BMC_API BusSleepFnc SetBusSleep(BusSleepFnc fnc);

// A sleep that returns at once.
BMC_API void InstantBusSleep(uint32_t microseconds);

// Installs a sleep function for the lifetime of the object, then puts the previous one back.
class BMC_API ScopedBusSleep {
public:
    explicit ScopedBusSleep(BusSleepFnc fnc);
    ~ScopedBusSleep();
    ScopedBusSleep(const ScopedBusSleep&) = delete;
    ScopedBusSleep& operator=(const ScopedBusSleep&) = delete;

private:
    BusSleepFnc m_previous;
};

} // namespace bmc

#endif
