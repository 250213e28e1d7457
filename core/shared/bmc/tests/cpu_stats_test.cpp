// The CPU sampler's paths that never start its thread. Those that do are in
// cpu_stats_threads_test.cpp.

#include <gtest/gtest.h>

#include <string>

#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "bmc/cpu_stats.h"
#include "common/fake_statgrab.h"
#include "tests/support/error_of.h"

namespace {

using bmctest::FakeStatgrab;

std::string GetValuesError(bmc::CpuStats& stats)
{
    float idle = -1, user = -1, kernel = -1, iowait = -1, swap = -1, nice = -1;
    return testsupport::ErrorOf([&] { stats.GetValues(idle, user, kernel, iowait, swap, nice); });
}

class CpuStatsNoThread : public ::testing::Test {
protected:
    void SetUp() override { FakeStatgrab::Reset(); }
};

TEST_F(CpuStatsNoThread, PrivilegesThatCannotBeDroppedFailEveryRequestWithoutAThread)
{
    FakeStatgrab::SetDropPrivilegesFails(true);
    {
        istd::TraceCapture capture(istd::eTraceError);
        bmc::CpuStats stats(FakeStatgrab::Api());
        EXPECT_TRUE(capture.Contains("bmc: Failed to drop privileges. OS system statistics will not work:"));
        EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
        EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
    }
    EXPECT_EQ(FakeStatgrab::Calls("init"), 1u);
    // A sampler primes its own counters when it starts: none was started.
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStats"), 0u);
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStatsDiff"), 0u);
    EXPECT_EQ(FakeStatgrab::Calls("shutdown"), 1u);
}

TEST_F(CpuStatsNoThread, AFailedSampleFailsEveryLaterRequest)
{
    istd::TraceCapture capture(istd::eTraceError);
    bmc::CpuStats stats(FakeStatgrab::Api());
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStats"), 1u);
    FakeStatgrab::PushDiff(std::nullopt);
    stats.Update();
    EXPECT_TRUE(capture.Contains("---> Error: CpuStats thread cannot get statistics."));
    EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStats"), 1u) << "no sampler may start after a failed sample";
}

TEST_F(CpuStatsNoThread, ADestroyedSamplerWithoutThreadShutsTheLibraryDown)
{
    {
        bmc::CpuStats stats(FakeStatgrab::Api());
    }
    EXPECT_EQ(FakeStatgrab::Calls("dropPrivileges"), 1u);
    EXPECT_EQ(FakeStatgrab::Calls("shutdown"), 1u);
}

} // namespace
