// Polynomials and numeric utilities: the documented edge cases, numpy's roots and standard
// deviations as references, and the refusals and guards around them.

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <functional>
#include <limits>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "common/imath_test_util.h"
#include "imath/numeric.h"
#include "imath/poly.h"
#include "tests/support/error_of.h"

using imathtest::EdgeCase;
using imathtest::Exact;
using imathtest::Near;
using testsupport::ErrorOf;

namespace {

using Complex = std::complex<double>;

const double c_nan = std::numeric_limits<double>::quiet_NaN();
const double c_inf = std::numeric_limits<double>::infinity();

std::vector<Complex> Roots(const std::vector<double>& c)
{
    std::vector<Complex> r(c.size());
    imath::poly_roots(c.data(), static_cast<int>(c.size()), r.data());
    return r;
}

// Roots as "re im" pairs in ascending order, for results whose order is the solver's.
std::string Sorted(std::vector<Complex> roots)
{
    std::sort(roots.begin(), roots.end(), [](const Complex& a, const Complex& b) {
        return a.real() != b.real() ? a.real() < b.real() : a.imag() < b.imag();
    });
    std::vector<double> flat;
    for (const Complex& r : roots) {
        flat.push_back(r.real());
        flat.push_back(r.imag());
    }
    return Near(flat);
}

std::string RealRoots(const std::vector<double>& c)
{
    std::vector<double> real(c.size(), c_nan);
    int count = -1;
    imath::poly_real_roots(c.data(), static_cast<int>(c.size()), real.data(), count);
    real.resize(static_cast<size_t>(std::max(count, 0)));
    std::sort(real.begin(), real.end());
    return std::to_string(count) + ": " + Near(real);
}

TEST(Numeric, EdgeCases)
{
    const double x2m3x2[] = {1, -3, 2};
    const EdgeCase cases[] = {
        {"poly_eval of x^2 - 3x + 2 at 2 and 0",
         [&] { return Exact({imath::poly_eval(x2m3x2, 3, 2.0), imath::poly_eval(x2m3x2, 3, 0.0)}); }, "0 2"},
        {"poly_eval of one coefficient", [&] { return Exact({imath::poly_eval(x2m3x2, 1, 1e9)}); }, "1"},
        {"poly_eval of no coefficients reads nothing", [] { return Exact({imath::poly_eval(nullptr, 0, 3)}); }, "0"},
        {"roots of x^2 - 3x + 2", [] { return Sorted(Roots({-3, 2})); }, "1 0 2 0"},
        {"roots of x^2 + 1", [] { return Sorted(Roots({0, 1})); }, "0 -1 0 1"},
        {"real roots of x^2 + 1", [] { return RealRoots({0, 1}); }, "0: "},
        {"real roots of x^2 - 3x + 2", [] { return RealRoots({-3, 2}); }, "2: 1 2"},
        {"real roots of (x - 2)(x^2 + 4)", [] { return RealRoots({-2, 4, -8}); }, "1: 2"},
        {"no roots for n = 0 or less",
         [] {
             int count = -1;
             imath::poly_roots(nullptr, -1, nullptr);
             imath::poly_real_roots(nullptr, 0, nullptr, count);
             return std::to_string(count);
         },
         "0"},
        {"equal within 1e-17", [] { return std::to_string(imath::equal({1, 0}, {1 + 1e-17, 0})); }, "1"},
        {"not equal at 1e-15", [] { return std::to_string(imath::equal({1, 0}, {1 + 1e-15, 0})); }, "0"},
        {"imaginary parts count too", [] { return std::to_string(imath::equal({0, 1}, {0, 1 + 1e-15})); }, "0"},
        {"not equal when a part is not a number",
         [] { return std::to_string(imath::equal({c_nan, 0}, {c_nan, 0})); }, "0"},
        {"MeanValue of an empty list", [] { return Exact({imath::MeanValue(std::list<int>())}); }, "0"},
        {"MeanValue of {1, 2, 3, 4}",
         [] { return Exact({imath::MeanValue(std::vector<unsigned int>{1, 2, 3, 4})}); }, "2.5"},
        {"MeanValue of negative ints", [] { return Exact({imath::MeanValue(std::list<int>{-3, -4, 1})}); }, "-2"},
        {"StdDeviation of {2, 4, 4, 4, 5, 5, 7, 9}",
         [] { return Exact({imath::StdDeviation(std::vector<unsigned int>{2, 4, 4, 4, 5, 5, 7, 9})}); }, "2"},
        {"StdDeviation of an empty list", [] { return Exact({imath::StdDeviation(std::list<float>())}); }, "0"},
        // S2/n - m*m comes out at -2048 for these equal values: the deviation is 0, not NaN.
        {"StdDeviation under cancellation",
         [] { return Exact({imath::StdDeviation(std::vector<unsigned int>(7, 3894693239u))}); }, "0"},
        {"a Polar_t printed",
         [] {
             std::ostringstream os;
             os << imath::Polar_t{1.5, 2};
             return os.str();
         },
         "{1.5, 2}"},
        {"a Polar_t printed with the stream's format",
         [] {
             std::ostringstream os;
             os.precision(3);
             os << std::fixed << imath::Polar_t{-0.25, 1e3};
             return os.str();
         },
         "{-0.250, 1000.000}"},
    };
    for (const EdgeCase& c : cases) {
        EXPECT_EQ(c.actual(), c.expected) << c.what;
    }
}

// Each expected root is matched by a distinct computed root within the case's tolerance (the
// reference file explains the tolerances); the orders of the two solvers differ.
TEST(Numeric, RootsMatchNumpy)
{
    const imathtest::Reference ref = imathtest::ReadReference("roots.csv");
    ASSERT_EQ(ref.size(), 11u);
    for (const auto& [id, fields] : ref) {
        const double tol = fields.at("tol").at(0);
        const std::vector<double>& re = fields.at("re");
        const std::vector<double>& im = fields.at("im");
        std::vector<Complex> got = Roots(fields.at("c"));
        ASSERT_EQ(got.size(), re.size()) << id;
        for (size_t k = 0; k < re.size(); ++k) {
            const Complex want(re[k], im[k]);
            auto nearest = std::min_element(got.begin(), got.end(), [&](const Complex& a, const Complex& b) {
                return std::abs(a - want) < std::abs(b - want);
            });
            ASSERT_NE(nearest, got.end()) << id;
            EXPECT_LE(std::abs(*nearest - want), tol * std::max(1.0, std::abs(want))) << id << " root " << want;
            got.erase(nearest);
        }
    }
}

TEST(Numeric, StdDeviationMatchesNumpy)
{
    const imathtest::Reference ref = imathtest::ReadReference("stddev.csv");
    ASSERT_EQ(ref.size(), 5u);
    for (const auto& [id, fields] : ref) {
        const double want = fields.at("std").at(0);
        double got;
        if (fields.count("uint") != 0) {
            const std::vector<double>& v = fields.at("uint");
            got = imath::StdDeviation(std::vector<unsigned int>(v.begin(), v.end()));
        } else {
            std::list<float> values;
            for (double v : fields.at("float")) {
                values.push_back(static_cast<float>(v));
            }
            got = imath::StdDeviation(values);
        }
        EXPECT_TRUE(imathtest::Close(got, want, 1e-12, 0.0) || (want == 0 && got == 0))
            << id << ": " << got << " != " << want;
    }
}

// Coefficients that are not finite give no roots: an error, and nothing written.
TEST(Numeric, RootsOfNonFiniteCoefficientsAreRefused)
{
    const std::vector<double> bad[] = {{c_nan, 1, 2}, {1, c_nan, 2}, {1, 2, c_nan}, {c_inf, 1, 2}, {1, -c_inf}};
    for (const std::vector<double>& c : bad) {
        std::vector<Complex> roots(c.size(), Complex(7, 7));
        EXPECT_EQ(ErrorOf([&] { imath::poly_roots(c.data(), static_cast<int>(c.size()), roots.data()); }),
                  "poly_roots: the eigenvalue solver found no finite roots!");
        EXPECT_EQ(roots, std::vector<Complex>(c.size(), Complex(7, 7)));
        std::vector<double> real(c.size());
        int count = -1;
        EXPECT_EQ(ErrorOf([&] { imath::poly_real_roots(c.data(), static_cast<int>(c.size()), real.data(), count); }),
                  "poly_roots: the eigenvalue solver found no finite roots!");
        EXPECT_EQ(count, 0);
    }
}

} // namespace
