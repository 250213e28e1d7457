#ifndef IMATH_DIRECT_FORM2_H
#define IMATH_DIRECT_FORM2_H

#include <cstddef>

namespace imath {
namespace detail {

// One direct-form-II step over a circular state of n entries whose current slot is p; a[0] is
// taken as 1. Returns the output and leaves the new intermediate value in w[p]. The terms are
// added for i = 1, 2, ..., n-1 in this order, which fixes the floating-point result; the delayed
// value of i steps ago sits at p - i, wrapping to p - i + n once i passes p, and splitting each
// sum at the wrap keeps the index arithmetic out of the loops. Not part of the library's
// interface: the filter and its benchmark baseline share it.
inline double DirectForm2Step(const double* a, const double* b, double* w, size_t n, size_t p, double x)
{
    double wp = x;
    for (size_t i = 1; i <= p; ++i) {
        wp = wp - a[i] * w[p - i];
    }
    for (size_t i = p + 1; i < n; ++i) {
        wp = wp - a[i] * w[p + n - i];
    }
    w[p] = wp;
    double y = b[0] * wp;
    for (size_t i = 1; i <= p; ++i) {
        y = y + b[i] * w[p - i];
    }
    for (size_t i = p + 1; i < n; ++i) {
        y = y + b[i] * w[p + n - i];
    }
    return y;
}

// The same step for a state of N entries fixed at compile time: the loops unroll and the
// wrapped indexes become selects. The terms are added in the same order as above, so the
// result is the same to the bit.
template <size_t N>
inline double DirectForm2StepFixed(const double* a, const double* b, double* w, size_t p, double x)
{
    static_assert(N >= 1, "a state holds at least the current value");
    double wp = x;
    for (size_t i = 1; i < N; ++i) {
        wp = wp - a[i] * w[i <= p ? p - i : p + N - i];
    }
    w[p] = wp;
    double y = b[0] * wp;
    for (size_t i = 1; i < N; ++i) {
        y = y + b[i] * w[i <= p ? p - i : p + N - i];
    }
    return y;
}

// The largest state the filter steps with a kernel of its own size (order 7); longer ones take
// the general loop, where the unrolling gains little against the work per step.
constexpr size_t c_fixedStateMax = 8;

} // namespace detail
} // namespace imath

#endif
