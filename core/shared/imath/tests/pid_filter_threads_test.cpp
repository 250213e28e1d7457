// A controller stepped on one thread while another switches its gains and a third reads gains
// and coefficients. Both gain sets share N, so they share the denominator and the filter's
// history does not depend on when a switch lands: every output must then equal, to the bit, the
// output of a controller that ran on one of the two sets all along. A step that mixed old and
// new coefficients, or a read that saw half a change, would match neither.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "imath/pid_filter.h"

namespace {

struct Gains {
    double kp, ki, kd, n;
};
constexpr Gains c_a = {2, 5, 0.1, 4};
constexpr Gains c_b = {-1, 1, 0.3, 4};
constexpr double c_ts = 0.01;
constexpr size_t c_steps = 20000;
constexpr size_t c_chunk = 64;

bool SameTf(const imath::TransferFunction& x, const imath::TransferFunction& y)
{
    return x.GetNumerator() == y.GetNumerator() && x.GetDenominator() == y.GetDenominator();
}

std::vector<double> Reference(const Gains& g, const std::vector<double>& inputs)
{
    imath::PIDFilter pid(c_ts);
    pid.SetGains(g.kp, g.ki, g.kd, g.n);
    std::vector<double> out;
    out.reserve(inputs.size());
    for (double x : inputs) {
        out.push_back(pid.Step(x));
    }
    return out;
}

imath::TransferFunction TfOf(const Gains& g)
{
    imath::PIDFilter pid(c_ts);
    pid.SetGains(g.kp, g.ki, g.kd, g.n);
    return pid.GetTransferFunction();
}

// Polls until the counter has moved past seen; false when the generous deadline passes.
bool WaitPast(const std::atomic<uint64_t>& counter, uint64_t seen, std::chrono::steady_clock::time_point deadline)
{
    while (counter.load() <= seen) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(PIDFilterThreads, StepsSeeWholeGainSetsWhileGainsChange)
{
    std::vector<double> inputs(c_steps);
    std::srand(29);
    for (double& x : inputs) {
        x = std::rand() / 2147483647.0 - 0.5;
    }
    const std::vector<double> refA = Reference(c_a, inputs);
    const std::vector<double> refB = Reference(c_b, inputs);
    const imath::TransferFunction tfA = TfOf(c_a);
    const imath::TransferFunction tfB = TfOf(c_b);
    ASSERT_EQ(tfA.GetDenominator(), tfB.GetDenominator());

    imath::PIDFilter pid(c_ts);
    pid.SetGains(c_a.kp, c_a.ki, c_a.kd, c_a.n);
    std::atomic<bool> done{false};
    std::atomic<uint64_t> sets{0}, reads{0}, badReads{0};

    std::thread setter([&] {
        for (uint64_t i = 0; !done.load(); ++i) {
            const Gains& g = (i % 2 == 0) ? c_b : c_a;
            pid.SetGains(g.kp, g.ki, g.kd, g.n);
            ++sets;
        }
    });
    std::thread reader([&] {
        while (!done.load()) {
            const imath::TransferFunction tf = pid.GetTransferFunction();
            double kp, ki, kd, n;
            pid.GetGains(kp, ki, kd, n);
            const bool gainsA = kp == c_a.kp && ki == c_a.ki && kd == c_a.kd && n == c_a.n;
            const bool gainsB = kp == c_b.kp && ki == c_b.ki && kd == c_b.kd && n == c_b.n;
            if (!(SameTf(tf, tfA) || SameTf(tf, tfB)) || !(gainsA || gainsB)) {
                ++badReads;
            }
            ++reads;
        }
    });

    // Each chunk of steps waits for a new set and a new read, so that they interleave also on a
    // loaded machine with few cores. The deadline is per wait: hundreds of waits, each a few
    // scheduler slices under a sanitizer on a loaded machine, add up to minutes.
    std::vector<double> outputs;
    outputs.reserve(c_steps);
    bool progressed = true;
    for (size_t k = 0; k < c_steps && progressed; ++k) {
        if (k % c_chunk == 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            progressed = WaitPast(sets, sets.load(), deadline) && WaitPast(reads, reads.load(), deadline);
        }
        outputs.push_back(pid.Step(inputs[k]));
    }
    done = true;
    setter.join();
    reader.join();
    ASSERT_TRUE(progressed) << "the setter or reader thread made no progress";

    size_t fromA = 0, fromB = 0, mixed = 0;
    for (size_t k = 0; k < outputs.size(); ++k) {
        if (outputs[k] == refA[k]) {
            ++fromA;
        } else if (outputs[k] == refB[k]) {
            ++fromB;
        } else if (mixed++ < 3) {
            ADD_FAILURE() << "step " << k << ": " << outputs[k] << " is neither " << refA[k] << " nor " << refB[k];
        }
    }
    EXPECT_EQ(mixed, 0u);
    EXPECT_GT(fromA, 0u);
    EXPECT_GT(fromB, 0u);
    EXPECT_EQ(badReads.load(), 0u);
    EXPECT_GT(reads.load(), 0u);
}

} // namespace
