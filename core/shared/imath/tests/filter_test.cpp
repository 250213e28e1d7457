// Transfer functions and the direct-form-II filter: the documented edge cases, scipy's lfilter
// as the reference for filters of orders 0 to 32, and refusals that keep the running filter.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/imath_test_util.h"
#include "imath/filter.h"
#include "imath/transfer_function.h"
#include "tests/support/error_of.h"

using imathtest::Coefficients;
using imathtest::EdgeCase;
using imathtest::Exact;
using testsupport::ErrorOf;

namespace {

const double c_eps = std::numeric_limits<double>::epsilon();
const double c_nan = std::numeric_limits<double>::quiet_NaN();
const double c_inf = std::numeric_limits<double>::infinity();

imath::TransferFunction Tf(const std::vector<double>& b, const std::vector<double>& a)
{
    imath::TransferFunction tf(static_cast<unsigned>(b.size() - 1));
    for (unsigned i = 0; i < b.size(); ++i) {
        tf.SetNumerator(i, b[i]);
        tf.SetDenominator(i, a[i]);
    }
    return tf;
}

std::vector<double> StepAll(imath::Filter& f, const std::vector<double>& x)
{
    std::vector<double> y;
    for (double v : x) {
        y.push_back(f.Step(v));
    }
    return y;
}

TEST(Filter, EdgeCases)
{
    const EdgeCase cases[] = {
        {"a new filter outputs 0",
         [] {
             imath::Filter f(3);
             return Exact(StepAll(f, {1, -2, 3}));
         },
         "0 0 0"},
        {"order 0 returns b0 * x",
         [] {
             imath::Filter f(0);
             f.SetTransferFunction(Tf({3}, {1}));
             return Exact(StepAll(f, {2, -0.5}));
         },
         "6 -1.5"},
        {"first order b = {1, 0}, a = {1, -0.5} fed 1, 0, 0",
         [] {
             imath::Filter f(1);
             f.SetTransferFunction(Tf({1, 0}, {1, -0.5}));
             return Exact(StepAll(f, {1, 0, 0}));
         },
         "1 0.5 0.25"},
        {"after Reset the next steps are those of a new filter",
         [] {
             imath::Filter f(2);
             f.SetTransferFunction(Tf({1, 0.25, 0}, {1, -0.5, 0.125}));
             StepAll(f, {3, -7, 2, 5});
             f.Reset();
             return Exact(StepAll(f, {1, 0, 0}));
         },
         "1 0.75 0.25"},
        {"a0 = 2 halves every coefficient",
         [] {
             imath::Filter f(1);
             f.SetTransferFunction(Tf({1, 3}, {2, -0.5}));
             return Coefficients(f);
         },
         "0.5 1.5 | 1 -0.25"},
        {"a0 within eps of 1 leaves the coefficients as given",
         [] {
             imath::Filter f(1);
             f.SetTransferFunction(Tf({3, 5}, {1 + c_eps, 7}));
             return Coefficients(f);
         },
         "3 5 | 1.0000000000000002 7"},
        {"SetNumerator past the end",
         [] {
             imath::TransferFunction tf(2);
             return ErrorOf([&] { tf.SetNumerator(3, 1.0); });
         },
         "TransferFunction::SetNumerator: Vector size mismatch!"},
        {"SetDenominator past the end",
         [] {
             imath::TransferFunction tf(2);
             return ErrorOf([&] { tf.SetDenominator(3, 1.0); });
         },
         "TransferFunction::SetDenominator: Vector size mismatch!"},
        {"Normalize of a0 = 0",
         [] {
             imath::TransferFunction tf(1);
             return ErrorOf([&] { tf.Normalize(); });
         },
         "a(0) = 0!"},
    };
    for (const EdgeCase& c : cases) {
        EXPECT_EQ(c.actual(), c.expected) << c.what;
    }
}

// Direct form II and scipy's transposed form round differently, so outputs agree to a relative
// 1e-12, with an absolute floor of 1e-12 for outputs near zero (the signals are of order 1).
TEST(Filter, MatchesScipyLfilter)
{
    const imathtest::Reference ref = imathtest::ReadReference("lfilter.csv");
    ASSERT_EQ(ref.size(), 6u);
    for (const auto& [id, fields] : ref) {
        const std::vector<double>& b = fields.at("b");
        const std::vector<double>& x = fields.at("x");
        const std::vector<double>& want = fields.at("y");
        ASSERT_EQ(x.size(), 1000u) << id;
        imath::Filter f(static_cast<unsigned>(b.size() - 1));
        f.SetTransferFunction(Tf(b, fields.at("a")));
        size_t bad = 0;
        for (size_t k = 0; k < x.size(); ++k) {
            const double y = f.Step(x[k]);
            if (!imathtest::Close(y, want[k], 1e-12, 1.0) && bad++ < 3) {
                ADD_FAILURE() << id << " sample " << k << ": " << y << " != " << want[k];
            }
        }
        EXPECT_EQ(bad, 0u) << id;
    }
}

// New coefficients act on the history the old ones left; equal inputs and coefficients give
// bit-equal outputs.
TEST(Filter, SetTransferFunctionKeepsTheHistory)
{
    const imath::TransferFunction first = Tf({1, 0.5, -0.25}, {1, -0.3, 0.1});
    const imath::TransferFunction second = Tf({0.2, -1, 0.75}, {1, 0.4, -0.2});
    imath::Filter switched(2);
    switched.SetTransferFunction(first);
    const std::vector<double> head = StepAll(switched, {1, -2, 0.5});
    switched.SetTransferFunction(second);
    const std::vector<double> tail = StepAll(switched, {3, 0.25, -1, 2});

    // The same history, built by hand: direct form II keeps w = x - sum a[i] w[k-i].
    std::vector<double> w = {0, 0};
    auto step = [&w](const imath::TransferFunction& tf, double x) {
        const auto& a = tf.GetDenominator();
        const auto& b = tf.GetNumerator();
        const double wn = (x - a[1] * w[0]) - a[2] * w[1];
        const double y = (b[0] * wn + b[1] * w[0]) + b[2] * w[1];
        w = {wn, w[0]};
        return y;
    };
    std::vector<double> expected;
    for (double x : {1.0, -2.0, 0.5}) {
        expected.push_back(step(first, x));
    }
    for (double x : {3.0, 0.25, -1.0, 2.0}) {
        expected.push_back(step(second, x));
    }
    std::vector<double> got = head;
    got.insert(got.end(), tail.begin(), tail.end());
    EXPECT_EQ(Exact(got), Exact(expected));
}

// Each refusal leaves the filter running on its old coefficients and history, exactly as a twin
// that never saw the refused call.
TEST(Filter, RefusedTransferFunctionKeepsTheRunningFilter)
{
    struct Refusal {
        const char* what;
        imath::TransferFunction tf;
        const char* error;
    };
    const Refusal refusals[] = {
        {"a0 = 0", Tf({1, 2, 3}, {0, 1, 1}), "a(0) = 0!"},
        {"a0 below eps", Tf({1, 2, 3}, {c_eps / 2, 1, 1}), "a(0) = 0!"},
        {"a0 not a number", Tf({1, 2, 3}, {c_nan, 1, 1}), "a(0) = 0!"},
        {"a0 infinite", Tf({1, 2, 3}, {-c_inf, 1, 1}), "a(0) = 0!"},
        {"lower order", Tf({1, 2}, {1, 1}), "Filter::SetTransferFunction: Vector size mismatch!"},
        {"higher order", Tf({1, 2, 3, 4}, {1, 0, 0, 0}), "Filter::SetTransferFunction: Vector size mismatch!"},
    };
    const imath::TransferFunction running = Tf({0.5, 0.25, -0.5}, {2, -0.5, 0.25});
    for (const Refusal& r : refusals) {
        imath::Filter f(2);
        imath::Filter twin(2);
        f.SetTransferFunction(running);
        twin.SetTransferFunction(running);
        StepAll(f, {1, 2});
        StepAll(twin, {1, 2});
        EXPECT_EQ(ErrorOf([&] { f.SetTransferFunction(r.tf); }), r.error) << r.what;
        EXPECT_EQ(Coefficients(f), Coefficients(twin)) << r.what;
        EXPECT_EQ(Exact(StepAll(f, {-3, 0.5, 4})), Exact(StepAll(twin, {-3, 0.5, 4}))) << r.what;
    }
}

TEST(TransferFunction, RefusalsChangeNothing)
{
    imath::TransferFunction tf = Tf({4, 2}, {c_nan, 8});
    EXPECT_EQ(ErrorOf([&] { tf.Normalize(); }), "a(0) = 0!");
    EXPECT_EQ(ErrorOf([&] { tf.SetNumerator(2, 9); }), "TransferFunction::SetNumerator: Vector size mismatch!");
    EXPECT_EQ(ErrorOf([&] { tf.SetDenominator(7, 9); }), "TransferFunction::SetDenominator: Vector size mismatch!");
    EXPECT_EQ(Exact(tf.GetNumerator()) + " | " + Exact(tf.GetDenominator()), "4 2 | nan 8");

    // A copy owns its coefficients.
    imath::TransferFunction copy = tf;
    copy.SetNumerator(0, 1);
    EXPECT_EQ(tf.GetNumerator()[0], 4);
}

// The copy returned is the filter's state at the call: later changes do not reach it.
TEST(Filter, GetTransferFunctionReturnsACopy)
{
    imath::Filter f(1);
    f.SetTransferFunction(Tf({1, 2}, {1, 0.5}));
    const imath::TransferFunction before = f.GetTransferFunction();
    f.SetTransferFunction(Tf({3, 4}, {1, -0.5}));
    EXPECT_EQ(Exact(before.GetNumerator()) + " | " + Exact(before.GetDenominator()), "1 2 | 1 0.5");
    EXPECT_EQ(Coefficients(f), "3 4 | 1 -0.5");
}

} // namespace
