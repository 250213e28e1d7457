#ifndef BMC_CLOCK_H
#define BMC_CLOCK_H

#include "bmc/bmc_export.h"
#include "istd/time.h"

namespace bmc {

// The time source of the library's readings and of the sensor cache. It is istd::Time::Now
// unless a test puts its own source in, to age cached readings without waiting.
class BMC_API Clock {
public:
    using Source_t = istd::Time (*)(int code);

    static istd::Time Now(int code);
    // Null puts istd::Time::Now back.
    static void SetSource(Source_t source);
};

} // namespace bmc

#endif
