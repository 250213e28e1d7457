#ifndef BMC_CPU_STATS_H
#define BMC_CPU_STATS_H

// The host's share of CPU time (idle, user, kernel, I/O wait, swap, nice) over the last
// sampling period, as percentages. One sampler serves the process: its first GetValues starts
// a thread that takes a sample from libstatgrab every period, so that a reading only copies
// the latest sample.
//
//     float idle, user, kernel, iowait, swap, nice;
//     bmc::CpuStats::Instance().GetValues(idle, user, kernel, iowait, swap, nice);
//
// The first call waits for the first sample (about one period); every call throws
// "bmc: Cannot get cpu statistics" when no sample can be had.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include <statgrab.h>

#include "bmc/bmc_export.h"

namespace bmc {

// The libstatgrab functions board management calls. Real() holds the library's own; tests
// hand other tables to a sampler or connection of their own to reach the failure paths.
struct BMC_API StatgrabApi {
    sg_error (*init)(int ignoreInitErrors);
    sg_error (*dropPrivileges)();
    sg_cpu_stats* (*getCpuStats)(size_t* entries);
    sg_cpu_stats* (*getCpuStatsDiff)(size_t* entries);
    sg_mem_stats* (*getMemStats)(size_t* entries);
    sg_error (*shutdown)();

    static const StatgrabApi& Real();
};

class BMC_API CpuStats {
public:
    using Period_t = std::chrono::nanoseconds;

    // The time between two samples, and the longest a caller waits per attempt.
    static const Period_t c_period;
    // How often GetValues waits for the first sample before it gives up.
    static constexpr int c_attempts = 5;

    // The process's sampler over the real library: made on the first call, destroyed at exit.
    static CpuStats& Instance();

    // A sampler of its own over api (which must outlive it). The system uses Instance() alone;
    // tests make their own, with a period that suits them.
    explicit CpuStats(const StatgrabApi& api = StatgrabApi::Real(), Period_t period = c_period);
    CpuStats(const CpuStats&) = delete;
    CpuStats& operator=(const CpuStats&) = delete;
    // Stops and joins the sampler, then shuts libstatgrab down.
    ~CpuStats();

    // The latest sample, in this argument order. Starts the sampler on the first call and waits
    // for its first sample; throws "bmc: Cannot get cpu statistics" when the privileges could
    // not be dropped, a sample failed, the sampler is stopping, or no sample came in time.
    void GetValues(float& idle, float& user, float& kernel, float& iowait, float& swap, float& nice);

    // The sampler thread's body: a sample every period until stopped or a sample fails.
    void operator()();

    // Takes one sample: the counters accumulated since the previous sample of the calling thread.
    void Update();

private:
    // Waits one period or until woken; true when the sampler is to stop.
    bool _WaitPeriod();
    // Raises a flag under the mutex, so that no waiter misses it, and wakes every waiter.
    void _Raise(std::atomic<bool>& flag, bool value);

    const StatgrabApi& m_api;
    const Period_t m_period;

    std::thread m_thread;
    std::once_flag m_started;
    std::mutex m_mutex; // the six percentages and the sample flag
    std::condition_variable m_changed;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ready{false};
    size_t m_callers = 0; // threads inside GetValues; the destructor waits for them to leave

    float m_user = 0.0f;
    float m_kernel = 0.0f;
    float m_idle = 0.0f;
    float m_iowait = 0.0f;
    float m_swap = 0.0f;
    float m_nice = 0.0f;
    bool m_sampled = false;
};

} // namespace bmc

#endif
