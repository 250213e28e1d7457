#include "fake_statgrab.h"

#include <deque>
#include <map>
#include <mutex>

#include "call_counter.h"

namespace bmctest {

namespace {

// Calls come from the sampler thread and from the test's threads alike.
std::mutex g_mutex;
CallCounter g_calls;

struct StatgrabState {
    bool dropFails = false;
    std::deque<std::optional<sg_cpu_stats>> script;
    std::optional<sg_cpu_stats> last;
    sg_cpu_stats returned{};
    sg_cpu_stats absolute{};
    std::optional<sg_mem_stats> memory;
    sg_mem_stats memoryReturned{};
};
StatgrabState g_statgrab;

sg_error _Init(int)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("init");
    return SG_ERROR_NONE;
}

sg_error _DropPrivileges()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("dropPrivileges");
    return g_statgrab.dropFails ? SG_ERROR_SETEUID : SG_ERROR_NONE;
}

sg_cpu_stats* _GetCpuStats(size_t* entries)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("getCpuStats");
    *entries = 1;
    return &g_statgrab.absolute;
}

sg_cpu_stats* _GetCpuStatsDiff(size_t* entries)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("getCpuStatsDiff");
    if (!g_statgrab.script.empty()) {
        g_statgrab.last = g_statgrab.script.front();
        g_statgrab.script.pop_front();
    }
    if (!g_statgrab.last) {
        *entries = 0;
        return nullptr;
    }
    g_statgrab.returned = *g_statgrab.last;
    *entries = 1;
    return &g_statgrab.returned;
}

sg_mem_stats* _GetMemStats(size_t* entries)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("getMemStats");
    if (!g_statgrab.memory) {
        *entries = 0;
        return nullptr;
    }
    g_statgrab.memoryReturned = *g_statgrab.memory;
    *entries = 1;
    return &g_statgrab.memoryReturned;
}

sg_error _Shutdown()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("shutdown");
    return SG_ERROR_NONE;
}

const bmc::StatgrabApi c_statgrab{&_Init, &_DropPrivileges, &_GetCpuStats, &_GetCpuStatsDiff, &_GetMemStats,
                                  &_Shutdown};

} // namespace

void FakeStatgrab::Reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_statgrab = StatgrabState();
    g_calls.Clear();
}

const bmc::StatgrabApi& FakeStatgrab::Api()
{
    return c_statgrab;
}

void FakeStatgrab::SetDropPrivilegesFails(bool fails)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_statgrab.dropFails = fails;
}

void FakeStatgrab::PushDiff(std::optional<sg_cpu_stats> diff)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_statgrab.script.push_back(diff);
}

sg_cpu_stats FakeStatgrab::Diff(unsigned long long user, unsigned long long kernel, unsigned long long idle,
                                unsigned long long iowait, unsigned long long swap, unsigned long long nice)
{
    sg_cpu_stats diff{};
    diff.user = user;
    diff.kernel = kernel;
    diff.idle = idle;
    diff.iowait = iowait;
    diff.swap = swap;
    diff.nice = nice;
    diff.total = user + kernel + idle + iowait + swap + nice;
    return diff;
}

void FakeStatgrab::SetMemory(std::optional<sg_mem_stats> memory)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_statgrab.memory = memory;
}

size_t FakeStatgrab::Calls(const std::string& function)
{
    return g_calls.Get(function);
}

} // namespace bmctest
