#ifndef IMATH_NUMERIC_H
#define IMATH_NUMERIC_H

#include <complex>
#include <iosfwd>

#include "imath/imath_export.h"

namespace imath {

// A polar value: its first and its second component.
struct IMATH_API Polar_t {
    double first;
    double second;
};

// Writes "{first, second}" with the stream's number format.
IMATH_API std::ostream& operator<<(std::ostream& os, const Polar_t& p);

// Real and imaginary parts each differ by less than the double epsilon (absolute); false when a
// part is not a number.
IMATH_API bool equal(const std::complex<double>& a, const std::complex<double>& b);

// Uniform in [-0.5, 0.5], from the process's rand().
IMATH_API double rnd_uniform();

// Normally distributed (mean 0, variance 1) by the Box-Muller transform; two rand() values
// per call. Always finite.
IMATH_API double rnd_gauss();

// Arithmetic mean, 0 for an empty container. Exists for std::list<int> and
// std::vector<unsigned int>.
template <class Container>
IMATH_API double MeanValue(const Container& c);

// Population standard deviation (division by the count), 0 for an empty container. Exists for
// std::vector<unsigned int> and std::list<float>.
template <class Container>
IMATH_API double StdDeviation(const Container& c);

} // namespace imath

#endif
