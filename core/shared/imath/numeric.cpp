#include "imath/numeric.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <list>
#include <ostream>
#include <vector>

namespace imath {

namespace {

const double c_tolerance = std::numeric_limits<double>::epsilon();

static_assert(RAND_MAX == 2147483647, "the random generators scale rand() by 2^31 - 1");
constexpr double c_randMax = 2147483647.0;
constexpr double c_twoPi = 6.283185307179586;

// Shared by both templates, so that the library exports only the instantiations it names.
template <class Container>
double Mean(const Container& c)
{
    if (c.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const auto& v : c) {
        sum += static_cast<double>(v);
    }
    return sum / static_cast<double>(c.size());
}

} // namespace

std::ostream& operator<<(std::ostream& os, const Polar_t& p)
{
    return os << '{' << p.first << ", " << p.second << '}';
}

bool equal(const std::complex<double>& a, const std::complex<double>& b)
{
    return std::fabs(a.real() - b.real()) < c_tolerance && std::fabs(a.imag() - b.imag()) < c_tolerance;
}

double rnd_uniform()
{
    return std::rand() / c_randMax - 0.5;
}

double rnd_gauss()
{
    // A first rand() of 0 would make ln(u1) minus infinity and the result infinite: it is taken
    // as 1, the smallest value it can otherwise give, so that the result stays finite and every
    // call still takes exactly two values of rand().
    const int r1 = std::rand();
    const double u1 = (r1 == 0 ? 1 : r1) / c_randMax;
    const double u2 = std::rand() / c_randMax;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(c_twoPi * u2);
}

template <class Container>
double MeanValue(const Container& c)
{
    return Mean(c);
}

template <class Container>
double StdDeviation(const Container& c)
{
    if (c.empty()) {
        return 0.0;
    }
    double squares = 0.0;
    for (const auto& v : c) {
        const double d = static_cast<double>(v);
        squares += d * d;
    }
    const double m = Mean(c);
    // Cancellation can make the difference slightly negative for values that are all equal.
    const double variance = squares / static_cast<double>(c.size()) - m * m;
    return variance < 0.0 ? 0.0 : std::sqrt(variance);
}

template IMATH_API double MeanValue(const std::list<int>&);
template IMATH_API double MeanValue(const std::vector<unsigned int>&);
template IMATH_API double StdDeviation(const std::vector<unsigned int>&);
template IMATH_API double StdDeviation(const std::list<float>&);

} // namespace imath
