#include "bmc/cpu_stats.h"

#include <cstdint>
#include <system_error>

#include "istd/assert.h"
#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

namespace {

const char* const c_noStatistics = "bmc: Cannot get cpu statistics";

// counter / total in percent: both rounded to single precision, the quotient formed in double.
float _Percent(int64_t counter, int64_t total)
{
    return static_cast<float>(static_cast<double>(static_cast<float>(counter)) * 100.0 /
                              static_cast<double>(static_cast<float>(total)));
}

} // namespace

const CpuStats::Period_t CpuStats::c_period = std::chrono::seconds(1);

const StatgrabApi& StatgrabApi::Real()
{
    static const StatgrabApi s_real{&sg_init,
                                    &sg_drop_privileges,
                                    &sg_get_cpu_stats,
                                    &sg_get_cpu_stats_diff,
                                    &sg_get_mem_stats,
                                    &sg_shutdown};
    return s_real;
}

CpuStats& CpuStats::Instance()
{
    static CpuStats s_instance;
    return s_instance;
}

CpuStats::CpuStats(const StatgrabApi& api, Period_t period) : m_api(api), m_period(period)
{
    ISTD_TRACE_FNC("bmc::CpuStats::CpuStats()");
    m_api.init(0);
    if (m_api.dropPrivileges() != SG_ERROR_NONE) {
        ISTD_TRACE(1, "bmc: Failed to drop privileges. "
                          << "OS system statistics will not work:");
        return;
    }
    // libstatgrab keeps the counters its differences start from per thread, so this call does
    // not prime the sampler: the sampler takes its own first counters when it starts.
    size_t entries = 0;
    m_api.getCpuStats(&entries);
    m_ready = true;
}

CpuStats::~CpuStats()
{
    ISTD_TRACE_FNC("bmc::CpuStats::~CpuStats()");
    _Raise(m_stop, true);
    {
        // A caller still waiting for a sample wakes on the stop flag and throws.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_callers == 0; });
    }
    if (m_thread.joinable()) {
        try {
            m_thread.join();
        } catch (const std::system_error&) {
            ISTD_TRACE(2, "bmc: CPU stat thread join error.");
        }
    }
    m_api.shutdown();
}

void CpuStats::_Raise(std::atomic<bool>& flag, bool value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
    }
    m_changed.notify_all();
}

bool CpuStats::_WaitPeriod()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, m_period, [this] { return m_stop.load(); });
}

void CpuStats::operator()()
{
    ISTD_TRACE_FNC("void bmc::CpuStats::operator()()");
    // The first difference of this thread then covers one period, not the time since boot.
    size_t entries = 0;
    m_api.getCpuStats(&entries);
    while (!m_stop && m_ready) {
        if (_WaitPeriod()) {
            break;
        }
        Update();
    }
    ISTD_TRACE(1, "---> CpuStats thread stopped");
}

void CpuStats::Update()
{
    ISTD_TRACE_FNC("void bmc::CpuStats::Update()");
    size_t entries = 0;
    const sg_cpu_stats* diff = m_api.getCpuStatsDiff(&entries);
    if (diff == nullptr) {
        ISTD_TRACE(1, "---> Error: CpuStats thread cannot get statistics.");
        _Raise(m_ready, false);
        return;
    }
    // libstatgrab's counters are unsigned: one that ran backwards shows as a negative difference.
    const int64_t counters[] = {static_cast<int64_t>(diff->user),   static_cast<int64_t>(diff->kernel),
                                static_cast<int64_t>(diff->idle),   static_cast<int64_t>(diff->iowait),
                                static_cast<int64_t>(diff->swap),   static_cast<int64_t>(diff->nice)};
    int64_t total = 0;
    bool countersForward = true;
    for (const int64_t counter : counters) {
        countersForward = countersForward && counter >= 0 && !__builtin_add_overflow(total, counter, &total);
    }
    // Such a sample has no shares to give: the previous sample stays.
    if (!countersForward || total <= 0) {
        ISTD_LOGGED_ASSERT(countersForward);
        ISTD_LOGGED_ASSERT(total > 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_user = _Percent(counters[0], total);
        m_kernel = _Percent(counters[1], total);
        m_idle = _Percent(counters[2], total);
        m_iowait = _Percent(counters[3], total);
        m_swap = _Percent(counters[4], total);
        m_nice = _Percent(counters[5], total);
        m_sampled = true;
    }
    m_changed.notify_all();
}

void CpuStats::GetValues(float& idle, float& user, float& kernel, float& iowait, float& swap, float& nice)
{
    ISTD_TRACE_FNC("void bmc::CpuStats::GetValues(float&, float&, float&, float&, float&, float&)");
    struct Caller {
        explicit Caller(CpuStats& stats) : self(stats)
        {
            std::lock_guard<std::mutex> lock(self.m_mutex);
            ++self.m_callers;
        }
        // Notifies under the mutex: once the destructor sees no caller, no caller touches the object.
        ~Caller()
        {
            std::lock_guard<std::mutex> lock(self.m_mutex);
            --self.m_callers;
            self.m_changed.notify_all();
        }
        CpuStats& self;
    } caller(*this);
    if (!m_ready || m_stop) {
        throw istd::Exception(c_noStatistics, true);
    }
    std::call_once(m_started, [this] { m_thread = std::thread(std::ref(*this)); });
    for (int attempt = 0;; ++attempt) {
        std::unique_lock<std::mutex> lock(m_mutex);
        idle = m_idle;
        user = m_user;
        kernel = m_kernel;
        iowait = m_iowait;
        swap = m_swap;
        nice = m_nice;
        if (m_sampled) {
            return;
        }
        // A sampler that stopped or failed brings no sample any more.
        if (attempt == c_attempts || m_stop || !m_ready) {
            throw istd::Exception(c_noStatistics, true);
        }
        ISTD_TRACE(1, "Waiting for cpu data to be sampled");
        m_changed.wait_for(lock, m_period, [this] { return m_sampled || m_stop || !m_ready; });
    }
}

} // namespace bmc
