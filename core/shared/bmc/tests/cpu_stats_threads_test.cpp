// The CPU sampler with its thread: over scripted libstatgrab differences, and over the real
// library (the process's own sampler, its first values and its end at exit).

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "istd/exception.h"
#include "istd/trace_capture.h"
#include "bmc/cpu_stats.h"
#include "common/fake_statgrab.h"
#include "tests/support/error_of.h"
#include "tests/support/wait_until.h"

namespace {

using bmctest::FakeStatgrab;
using std::chrono::milliseconds;

// idle, user, kernel, iowait, swap, nice: GetValues' argument order.
using Values = std::array<float, 6>;

Values GetValues(bmc::CpuStats& stats)
{
    Values v{};
    stats.GetValues(v[0], v[1], v[2], v[3], v[4], v[5]);
    return v;
}

std::string GetValuesError(bmc::CpuStats& stats)
{
    return testsupport::ErrorOf([&] { GetValues(stats); });
}

float Sum(const Values& v)
{
    return v[0] + v[1] + v[2] + v[3] + v[4] + v[5];
}

size_t Count(const std::vector<std::string>& lines, const std::string& text)
{
    size_t n = 0;
    for (const std::string& line : lines) {
        n += line.find(text) != std::string::npos;
    }
    return n;
}

// A period no test waits out: samples come from Update calls of the test itself.
constexpr std::chrono::hours c_never{1};

// The period of a test that waits for the sampler: its first sample comes one period after it
// starts, and a request waits c_attempts periods for one, so this leaves a loaded machine four
// periods to run the sampler's thread.
constexpr milliseconds c_sampled{500};

class CpuStatsScripted : public ::testing::Test {
protected:
    void SetUp() override { FakeStatgrab::Reset(); }
};

TEST_F(CpuStatsScripted, EachCounterBecomesItsShareOfTheTotal)
{
    struct Case {
        sg_cpu_stats diff;
        Values expected; // idle, user, kernel, iowait, swap, nice
    };
    const float third = static_cast<float>(100.0 / 3.0);
    const Case cases[] = {
        {FakeStatgrab::Diff(30, 20, 40, 5, 3, 2), {40, 30, 20, 5, 3, 2}},
        {FakeStatgrab::Diff(1, 1, 1, 0, 0, 0), {third, third, third, 0, 0, 0}},
        {FakeStatgrab::Diff(0, 0, 0, 0, 0, 7), {0, 0, 0, 0, 0, 100}},
        // Counters far beyond 32 bits.
        {FakeStatgrab::Diff(1ull << 40, 0, 3ull << 40, 0, 0, 0), {75, 25, 0, 0, 0, 0}},
    };
    bmc::CpuStats stats(FakeStatgrab::Api(), c_never);
    for (const Case& c : cases) {
        FakeStatgrab::PushDiff(c.diff);
        stats.Update();
        const Values v = GetValues(stats);
        for (size_t i = 0; i < v.size(); ++i) {
            EXPECT_FLOAT_EQ(v[i], c.expected[i]) << "figure " << i << " of " << c.diff.total;
        }
        EXPECT_NEAR(Sum(v), 100.0f, 1e-4f);
    }
}

TEST_F(CpuStatsScripted, ASampleWithoutSharesKeepsThePreviousOne)
{
    const unsigned long long backwards = static_cast<unsigned long long>(-5);
    const unsigned long long half = std::numeric_limits<unsigned long long>::max() / 4;
    struct Case {
        const char* what;
        sg_cpu_stats diff;
        const char* assertion;
    };
    const Case cases[] = {
        {"zero total", FakeStatgrab::Diff(0, 0, 0, 0, 0, 0), "Assertion condition: total > 0"},
        {"a counter ran backwards", FakeStatgrab::Diff(backwards, 1, 10, 0, 0, 0),
         "Assertion condition: countersForward"},
        {"negative total", FakeStatgrab::Diff(backwards, 0, 0, 0, 0, 0), "Assertion condition: total > 0"},
        {"a total beyond 64 bits", FakeStatgrab::Diff(half, half, half, 0, 0, 0),
         "Assertion condition: countersForward"},
    };
    bmc::CpuStats stats(FakeStatgrab::Api(), c_never);
    FakeStatgrab::PushDiff(FakeStatgrab::Diff(30, 20, 40, 5, 3, 2));
    stats.Update();
    const Values before = GetValues(stats);
    for (const Case& c : cases) {
        istd::TraceCapture capture(istd::eTraceError);
        FakeStatgrab::PushDiff(c.diff);
        stats.Update();
        EXPECT_EQ(GetValues(stats), before) << c.what;
        EXPECT_TRUE(capture.Contains(c.assertion)) << c.what;
    }
}

TEST_F(CpuStatsScripted, TheFirstRequestWaitsForTheSamplersFirstSample)
{
    FakeStatgrab::PushDiff(FakeStatgrab::Diff(10, 10, 80, 0, 0, 0));
    istd::TraceCapture capture(istd::eTraceError);
    bmc::CpuStats stats(FakeStatgrab::Api(), c_sampled);
    EXPECT_EQ(GetValues(stats), (Values{80, 10, 10, 0, 0, 0}));
    EXPECT_GE(Count(capture.Lines(), "Waiting for cpu data to be sampled"), 1u);
    // The sampler took its own first counters on its own thread before it sampled.
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStats"), 2u);
}

TEST_F(CpuStatsScripted, NoSampleAfterFiveWaitsFails)
{
    FakeStatgrab::PushDiff(FakeStatgrab::Diff(0, 0, 0, 0, 0, 0));
    istd::TraceCapture capture(istd::eTraceError);
    bmc::CpuStats stats(FakeStatgrab::Api(), milliseconds(10));
    EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
    EXPECT_EQ(Count(capture.Lines(), "Waiting for cpu data to be sampled"), 5u);
}

TEST_F(CpuStatsScripted, AFailedSampleEndsTheSamplerAndWakesTheWaiters)
{
    FakeStatgrab::PushDiff(std::nullopt);
    istd::TraceCapture capture(istd::eTraceError);
    bmc::CpuStats stats(FakeStatgrab::Api(), c_sampled);
    EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
    EXPECT_LT(Count(capture.Lines(), "Waiting for cpu data to be sampled"), 5u);
    EXPECT_EQ(GetValuesError(stats), "bmc: Cannot get cpu statistics");
    // The sampler is gone: nothing samples any more.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return capture.Contains("---> CpuStats thread stopped"); }));
    const size_t diffs = FakeStatgrab::Calls("getCpuStatsDiff");
    std::this_thread::sleep_for(c_sampled * 2);
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStatsDiff"), diffs);
}

TEST_F(CpuStatsScripted, ConcurrentFirstRequestsStartOneSampler)
{
    FakeStatgrab::PushDiff(FakeStatgrab::Diff(1, 2, 3, 4, 5, 5));
    bmc::CpuStats stats(FakeStatgrab::Api(), c_sampled);
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
        callers.emplace_back([&] { EXPECT_NEAR(Sum(GetValues(stats)), 100.0f, 1e-4f); });
    }
    for (std::thread& t : callers) {
        t.join();
    }
    // One by the constructor, one by the one sampler.
    EXPECT_EQ(FakeStatgrab::Calls("getCpuStats"), 2u);
}

TEST_F(CpuStatsScripted, ARequestWaitingWhileTheSamplerIsDestroyedFails)
{
    FakeStatgrab::PushDiff(FakeStatgrab::Diff(0, 0, 0, 0, 0, 0));
    std::string error;
    auto stats = std::make_unique<bmc::CpuStats>(FakeStatgrab::Api(), c_never);
    std::thread caller([&] { error = GetValuesError(*stats); });
    // The caller started the sampler, so it is inside GetValues.
    while (FakeStatgrab::Calls("getCpuStats") < 2) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    stats.reset();
    caller.join();
    EXPECT_EQ(error, "bmc: Cannot get cpu statistics");
    EXPECT_EQ(FakeStatgrab::Calls("shutdown"), 1u);
}

// The real library on this machine.

TEST(CpuStatsReal, AnOwnSamplerGivesSharesSummingTo100AndStops)
{
    auto stats = std::make_unique<bmc::CpuStats>();
    const Values v = GetValues(*stats);
    EXPECT_NEAR(Sum(v), 100.0f, 1e-3f);
    for (const float share : v) {
        EXPECT_GE(share, 0.0f);
        EXPECT_LE(share, 100.0f);
    }
    // That it stops without waiting out its period is the scripted tests' (a period of an hour).
    stats.reset();
}

// That the first request waits for one sample and no more is the scripted tests'; a clock here
// fails on a loaded machine.
TEST(CpuStatsReal, TheProcessSamplerGivesSharesSummingTo100)
{
    const Values first = GetValues(bmc::CpuStats::Instance());
    EXPECT_NEAR(Sum(first), 100.0f, 1e-3f);
    EXPECT_GT(Sum(GetValues(bmc::CpuStats::Instance())), 99.0f);
}

// The process's sampler, destroyed at exit while its thread runs, lets the process end cleanly
// (that it is woken rather than waiting out its period is the scripted tests').
TEST(CpuStatsRealDeathTest, TheProcessSamplerEndsAtExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            GetValues(bmc::CpuStats::Instance());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
