// The step kernels of fixed state length against the general loop: the same sums in the same
// order, so every output and every state entry is the same to the bit, for each length the
// filter has a kernel of and past the last of them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imath/direct_form2.h"
#include "imath/filter.h"
#include "imath/pid_filter.h"

namespace {

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Numerator and denominator of one state length (a[0] = 1), with inputs to feed.
struct Coefficients {
    std::string what;
    std::vector<double> b, a;
};

// Coefficient sets of every kind the kernels see: wide-ranging random ones (magnitudes from
// 1e-3 to 1e3, so that rounding depends on the order of the sums), a pure delay, and the PID
// controller's own.
std::vector<Coefficients> Table(size_t n)
{
    std::vector<Coefficients> table;
    for (const unsigned seed : {1u, 7u, 29u}) {
        std::mt19937 random(seed * 1000 + static_cast<unsigned>(n));
        std::uniform_real_distribution<double> mantissa(-1, 1);
        std::uniform_int_distribution<int> exponent(-3, 3);
        Coefficients c{"random, seed " + std::to_string(seed), {}, {1.0}};
        for (size_t i = 0; i < n; ++i) {
            c.b.push_back(mantissa(random) * std::pow(10.0, exponent(random)));
        }
        // The poles stay inside the unit circle: the outputs neither grow nor vanish.
        for (size_t i = 1; i < n; ++i) {
            c.a.push_back(mantissa(random) * 0.9 / static_cast<double>(n - 1));
        }
        table.push_back(c);
    }
    Coefficients delay{"delay", std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    delay.b[n - 1] = 1;
    delay.a[0] = 1;
    table.push_back(delay);
    if (n == 3) {
        imath::PIDFilter pid(0.01);
        pid.SetGains(2, 5, 0.1, 4);
        const imath::TransferFunction tf = pid.GetTransferFunction();
        table.push_back({"PID", tf.GetNumerator(), tf.GetDenominator()});
    }
    return table;
}

std::vector<double> Inputs()
{
    std::mt19937 random(4096);
    std::uniform_real_distribution<double> value(-100, 100);
    std::vector<double> x(97);
    for (double& v : x) {
        v = value(random);
    }
    return x;
}

// Runs the kernel of length N and the general loop side by side over the table.
template <size_t N>
void CompareFixedKernel()
{
    for (const Coefficients& c : Table(N)) {
        std::vector<double> wFixed(N, 0.0), wGeneral(N, 0.0);
        size_t p = 0;
        for (double x : Inputs()) {
            const double yFixed = imath::detail::DirectForm2StepFixed<N>(c.a.data(), c.b.data(), wFixed.data(), p, x);
            const double yGeneral = imath::detail::DirectForm2Step(c.a.data(), c.b.data(), wGeneral.data(), N, p, x);
            ASSERT_TRUE(SameBits(yFixed, yGeneral)) << "length " << N << ", " << c.what << ": " << yFixed << " against "
                                                    << yGeneral;
            ASSERT_TRUE(SameBits(wFixed[p], wGeneral[p])) << "length " << N << ", " << c.what;
            p = p + 1 == N ? 0 : p + 1;
        }
    }
}

template <size_t... N>
void CompareFixedKernels(std::index_sequence<N...>)
{
    (CompareFixedKernel<N + 1>(), ...);
}

TEST(FilterKernel, FixedLengthKernelsMatchTheGeneralLoopToTheBit)
{
    CompareFixedKernels(std::make_index_sequence<imath::detail::c_fixedStateMax>());
}

// The filter itself, whichever kernel it picks for its order, against the general loop.
TEST(FilterKernel, FilterStepMatchesTheGeneralLoopForEveryOrder)
{
    for (size_t n = 1; n <= imath::detail::c_fixedStateMax + 4; ++n) {
        for (const Coefficients& c : Table(n)) {
            imath::Filter filter(static_cast<unsigned>(n - 1));
            imath::TransferFunction tf(static_cast<unsigned>(n - 1));
            for (unsigned i = 0; i < n; ++i) {
                tf.SetNumerator(i, c.b[i]);
                tf.SetDenominator(i, c.a[i]);
            }
            filter.SetTransferFunction(tf);
            std::vector<double> w(n, 0.0);
            size_t p = 0;
            for (double x : Inputs()) {
                const double want = imath::detail::DirectForm2Step(c.a.data(), c.b.data(), w.data(), n, p, x);
                const double got = filter.Step(x);
                ASSERT_TRUE(SameBits(got, want)) << "order " << n - 1 << ", " << c.what << ": " << got << " against "
                                                 << want;
                p = p + 1 == n ? 0 : p + 1;
            }
        }
    }
}

} // namespace
