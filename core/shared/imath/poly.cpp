#include "imath/poly.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include <Eigen/Eigenvalues>

#include "istd/exception.h"

namespace imath {

namespace {

const double c_tolerance = std::numeric_limits<double>::epsilon();

} // namespace

double poly_eval(const double* c, int count, double x)
{
    if (count <= 0) {
        return 0.0;
    }
    double r = c[0];
    for (int i = 1; i < count; ++i) {
        r = r * x + c[i];
    }
    return r;
}

void poly_roots(const double* c, int n, std::complex<double>* roots)
{
    if (n <= 0) {
        return;
    }
    // Eigen keeps its matrices on the heap, 16-byte aligned, and frees them when it throws.
    Eigen::MatrixXd companion = Eigen::MatrixXd::Zero(n, n);
    for (int j = 0; j < n; ++j) {
        companion(0, j) = -c[j];
    }
    for (int i = 0; i + 1 < n; ++i) {
        companion(i + 1, i) = 1.0;
    }
    const Eigen::EigenSolver<Eigen::MatrixXd> solver(companion, false);
    // Coefficients that are not finite keep the QR iteration from converging; what the solver
    // holds then is no answer. Roots that overflow are none either.
    if (solver.info() != Eigen::Success || !solver.eigenvalues().allFinite()) {
        throw istd::Exception("poly_roots: the eigenvalue solver found no finite roots!", true);
    }
    const auto& values = solver.eigenvalues();
    for (int i = 0; i < n; ++i) {
        roots[i] = values(i);
    }
}

void poly_real_roots(const double* c, int n, double* real, int& count)
{
    count = 0;
    if (n <= 0) {
        return;
    }
    std::vector<std::complex<double>> roots(static_cast<size_t>(n));
    poly_roots(c, n, roots.data());
    for (const std::complex<double>& r : roots) {
        if (std::fabs(r.imag()) < c_tolerance) {
            real[count++] = r.real();
        }
    }
}

} // namespace imath
