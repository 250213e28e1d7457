#ifndef BMC_TESTS_FAKE_STATGRAB_H
#define BMC_TESTS_FAKE_STATGRAB_H

// A stand-in for libstatgrab behind the CPU sampler's and the host connection's function
// tables, for the failure paths. Its state is process-wide (the tables hold plain function
// pointers): Reset() before use.

#include <cstddef>
#include <optional>
#include <string>

#include "bmc/cpu_stats.h"

namespace bmctest {

// libstatgrab: scripted CPU differences, settable memory figures, a privilege drop that can fail.
class FakeStatgrab {
public:
    static void Reset();
    // The table with every function faked.
    static const bmc::StatgrabApi& Api();

    static void SetDropPrivilegesFails(bool fails);
    // Differences returned by the next getCpuStatsDiff calls, in order; nullopt stands for a
    // failed call. When the script is used up the last entry repeats (nullopt when there was none).
    static void PushDiff(std::optional<sg_cpu_stats> diff);
    static sg_cpu_stats Diff(unsigned long long user, unsigned long long kernel, unsigned long long idle,
                             unsigned long long iowait, unsigned long long swap, unsigned long long nice);
    // Null memory statistics when not set.
    static void SetMemory(std::optional<sg_mem_stats> memory);

    static size_t Calls(const std::string& function);
};

} // namespace bmctest

#endif
