// The PID controller: the documented edge cases, step responses against their closed forms,
// and refusals that keep gains, coefficients and the output stage.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/imath_test_util.h"
#include "imath/pid_filter.h"
#include "tests/support/error_of.h"

using imathtest::Coefficients;
using imathtest::EdgeCase;
using imathtest::Exact;
using imathtest::Near;
using testsupport::ErrorOf;

namespace {

const double c_nan = std::numeric_limits<double>::quiet_NaN();
const double c_inf = std::numeric_limits<double>::infinity();

// With Kp = 1 and a cleared history, the filter's output is exactly the input: the output stage
// sees the value given.
std::vector<double> StageOutputs(imath::PIDFilter& pid, const std::vector<double>& filterOutputs)
{
    std::vector<double> out;
    for (double v : filterOutputs) {
        pid.Reset();
        out.push_back(pid.Step(v));
    }
    return out;
}

std::string Gains(const imath::PIDFilter& pid)
{
    double kp, ki, kd, n;
    pid.GetGains(kp, ki, kd, n);
    return Exact({kp, ki, kd, n});
}

std::string Clip(const imath::PIDFilter& pid)
{
    double low, high;
    pid.GetClip(low, high);
    return Exact({low, high});
}

TEST(PIDFilter, EdgeCases)
{
    const EdgeCase cases[] = {
        {"a new controller returns 0",
         [] {
             imath::PIDFilter pid(0.1);
             return Exact({pid.Step(5), pid.Step(-3), pid.Step(1e300)});
         },
         "0 0 0"},
        {"a new controller has zero gains and the widest limits",
         [] {
             imath::PIDFilter pid(0.1);
             return Gains(pid) + " | " + Clip(pid);
         },
         "0 0 0 0 | -1.7976931348623157e+308 1.7976931348623157e+308"},
        {"Kp = 1 alone: b = {1, -1, 0}, a = {1, -1, 0}",
         [] {
             imath::PIDFilter pid(0.25);
             pid.SetGains(1, 0, 0, 0);
             return Coefficients(pid);
         },
         "1 -1 0 | 1 -1 0"},
        {"Kp = 1 alone: the output follows the input",
         [] {
             imath::PIDFilter pid(3);
             pid.SetGains(1, 0, 0, 0);
             return Near({pid.Step(0.5), pid.Step(-2), pid.Step(7.25), pid.Step(0)});
         },
         "0.5 -2 7.25 0"},
        {"dead zone 0.5: 0.4 gives 0, -0.5 passes",
         [] {
             imath::PIDFilter pid(1);
             pid.SetGains(1, 0, 0, 0);
             pid.SetDeadZone(0.5);
             return Exact(StageOutputs(pid, {0.4, -0.5}));
         },
         "0 -0.5"},
        {"hysteresis 1 around a held 0: 0.9 and -1.0 stay at 0, 1.1 is taken",
         [] {
             imath::PIDFilter pid(1);
             pid.SetGains(1, 0, 0, 0);
             pid.SetHysteresis(1);
             return Exact(StageOutputs(pid, {0.9, -1.0, 1.1}));
         },
         "0 0 1.1000000000000001"},
        {"hysteresis 0.5 around a held 0: outputs of exactly 0.5 and -0.5 stay at 0 (both tests strict)",
         [] {
             imath::PIDFilter pid(1);
             pid.SetGains(1, 0, 0, 0);
             pid.SetHysteresis(0.5);
             return Exact(StageOutputs(pid, {0.5, -0.5}));
         },
         "0 0"},
        {"limits [-1, 1] clip a held 5 to 1 and keep the held 5",
         [] {
             imath::PIDFilter pid(1);
             pid.SetGains(1, 0, 0, 0);
             pid.SetClip(-1, 1);
             const double clipped = StageOutputs(pid, {5}).at(0);
             // A wide band keeps the held value; the wider limits let it show.
             pid.SetHysteresis(10);
             pid.SetClip(-10, 10);
             return Exact({clipped, StageOutputs(pid, {0}).at(0)});
         },
         "1 5"},
        {"equal limits are allowed",
         [] {
             imath::PIDFilter pid(1);
             pid.SetGains(1, 0, 0, 0);
             pid.SetClip(2, 2);
             return Exact(StageOutputs(pid, {-4, 9}));
         },
         "2 2"},
        {"SetClip(2, 1) is refused and the old limits remain",
         [] {
             imath::PIDFilter pid(1);
             pid.SetClip(-3, 4);
             return ErrorOf([&] { pid.SetClip(2, 1); }) + " | " + Clip(pid);
         },
         "Clipping limits mismatch: low > high! | -3 4"},
    };
    for (const EdgeCase& c : cases) {
        EXPECT_EQ(c.actual(), c.expected) << c.what;
    }
}

// Unit-step responses: Kp gives Kp, Ki gives Ki Ts (n+1), the filtered derivative gives
// (Kd/Ts)/(1+N) (N/(1+N))^n. The tolerance is 1e-12 of the response's largest value: the
// integrator's pole keeps growing state under the cancelling zeros, so a decayed derivative
// response carries rounding of the size of its start.
TEST(PIDFilter, StepResponsesMatchTheClosedForms)
{
    struct Response {
        const char* what;
        double kp, ki, kd, n, ts;
        std::function<double(int)> closedForm;
    };
    const Response responses[] = {
        {"P, N = 0", 2.5, 0, 0, 0, 0.01, [](int) { return 2.5; }},
        {"P, N = 4", -1.75, 0, 0, 4, 0.01, [](int) { return -1.75; }},
        {"I, N = 0", 0, 3, 0, 0, 0.02, [](int k) { return 3 * 0.02 * (k + 1); }},
        {"I, N = 9", 0, 0.7, 0, 9, 0.5, [](int k) { return 0.7 * 0.5 * (k + 1); }},
        {"D, N = 4", 0, 0, 0.3, 4, 0.05,
         [](int k) { return (0.3 / 0.05) / (1 + 4.0) * std::pow(4.0 / (1 + 4.0), k); }},
        {"D, N = 0.5", 0, 0, 2, 0.5, 0.1,
         [](int k) { return (2 / 0.1) / (1 + 0.5) * std::pow(0.5 / (1 + 0.5), k); }},
    };
    constexpr int c_steps = 100;
    for (const Response& r : responses) {
        imath::PIDFilter pid(r.ts);
        pid.SetGains(r.kp, r.ki, r.kd, r.n);
        double scale = 0;
        for (int k = 0; k < c_steps; ++k) {
            scale = std::max(scale, std::fabs(r.closedForm(k)));
        }
        int bad = 0;
        for (int k = 0; k < c_steps; ++k) {
            const double got = pid.Step(1.0);
            const double want = r.closedForm(k);
            if (!imathtest::Close(got, want, 1e-12, scale) && bad++ < 3) {
                ADD_FAILURE() << r.what << " step " << k << ": " << got << " != " << want;
            }
        }
        EXPECT_EQ(bad, 0) << r.what;
    }
}

// New gains act on the filter's history: an integrator that switches to a larger Ki keeps what
// it has summed so far.
TEST(PIDFilter, SetGainsKeepsTheHistory)
{
    imath::PIDFilter pid(1);
    pid.SetGains(0, 1, 0, 0);
    for (int k = 0; k < 3; ++k) {
        pid.Step(1.0);
    }
    pid.SetGains(0, 2, 0, 0);
    // The integrator's state is the sum of its inputs (3); the new Ki scales it with the new input.
    EXPECT_EQ(Near({pid.Step(1.0)}), "8");
}

// Every refusal keeps gains, coefficients, limits, dead zone and hysteresis as they were.
TEST(PIDFilter, RefusalsKeepTheController)
{
    struct Refusal {
        const char* what;
        double ts;
        std::function<void(imath::PIDFilter&)> call;
        const char* error;
    };
    const Refusal refusals[] = {
        {"N = -1 makes a0 = 0", 0.1, [](imath::PIDFilter& p) { p.SetGains(9, 8, 7, -1); }, "a(0) = 0!"},
        {"Ts = 0", 0, [](imath::PIDFilter& p) { p.SetGains(1, 1, 1, 1); },
         "Sampling period must be positive and finite!"},
        {"Ts < 0", -0.1, [](imath::PIDFilter& p) { p.SetGains(1, 1, 1, 1); },
         "Sampling period must be positive and finite!"},
        {"Ts not a number", c_nan, [](imath::PIDFilter& p) { p.SetGains(1, 1, 1, 1); },
         "Sampling period must be positive and finite!"},
        {"Ts infinite", c_inf, [](imath::PIDFilter& p) { p.SetGains(1, 1, 1, 1); },
         "Sampling period must be positive and finite!"},
        {"low > high", 0.1, [](imath::PIDFilter& p) { p.SetClip(2, 1); }, "Clipping limits mismatch: low > high!"},
        {"low not a number", 0.1, [](imath::PIDFilter& p) { p.SetClip(c_nan, 1); },
         "Clipping limit is not a number!"},
        {"high not a number", 0.1, [](imath::PIDFilter& p) { p.SetClip(-1, c_nan); },
         "Clipping limit is not a number!"},
        {"negative dead zone", 0.1, [](imath::PIDFilter& p) { p.SetDeadZone(-0.5); },
         "Negative dead zone delta/threshold!"},
        {"dead zone not a number", 0.1, [](imath::PIDFilter& p) { p.SetDeadZone(c_nan); },
         "Dead zone delta/threshold is not a number!"},
        {"negative hysteresis", 0.1, [](imath::PIDFilter& p) { p.SetHysteresis(-1e-300); },
         "Negative hysteresis delta/threshold!"},
        {"hysteresis not a number", 0.1, [](imath::PIDFilter& p) { p.SetHysteresis(c_nan); },
         "Hysteresis delta/threshold is not a number!"},
    };
    auto snapshot = [](const imath::PIDFilter& p) {
        return Gains(p) + " | " + Coefficients(p) + " | " + Clip(p) + " | " +
               Exact({p.GetDeadZone(), p.GetHysteresis()});
    };
    for (const Refusal& r : refusals) {
        imath::PIDFilter pid(r.ts);
        if (r.ts > 0 && std::isfinite(r.ts)) {
            pid.SetGains(2, 3, 0.5, 4);
            pid.SetClip(-7, 7);
            pid.SetDeadZone(0.1);
            pid.SetHysteresis(0.2);
        }
        const std::string before = snapshot(pid);
        EXPECT_EQ(ErrorOf([&] { r.call(pid); }), r.error) << r.what;
        EXPECT_EQ(snapshot(pid), before) << r.what;
    }
}

// -0 and 0 are valid dead zones and hystereses; infinite limits are valid limits.
TEST(PIDFilter, AcceptedBoundaryValues)
{
    imath::PIDFilter pid(1);
    pid.SetDeadZone(-0.0);
    pid.SetHysteresis(-0.0);
    pid.SetClip(-c_inf, c_inf);
    pid.SetGains(1, 0, 0, 0);
    EXPECT_EQ(Exact(StageOutputs(pid, {-1e308, 1e-300})), "-1e+308 1e-300");
}

} // namespace
